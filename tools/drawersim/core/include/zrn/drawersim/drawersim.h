#pragma once

// drawersim's portable core: the command line, what each command does to the
// simulator block, and every text it prints. The Windows shell maps the
// block, takes the lock, wakes the USB driver and keeps the block alive.
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "zrn/modem_status.h"
#include "zrn/sim/sim_state.h"

namespace zrn::drawersim {

// Named objects of `drawersim hold`: the holder owns the mutex while it
// holds the block; `drawersim release` signals the event.
inline constexpr const char* kHolderMutexName = "ZRNDrawerSimHolder";
inline constexpr const char* kReleaseEventName = "ZRNDrawerSimRelease";

// The modem lines a word can show.
constexpr std::int32_t kModemLines = static_cast<std::int32_t>(kMsCts | kMsDsr | kMsRing | kMsRlsd);

enum class Verb { Help, Status, Open, Close, Lines, Unplug, Replug, IgnoreFires, Received, FailOpen, Hold, Release };

// A simulated port or the USB drawer.
struct Target {
    enum Kind { None, Com, Lpt, Usb };
    Kind kind = None;
    int index = 0;  // 0 for COM1 / LPT1
};

struct Command {
    Verb verb = Verb::Help;
    bool json = false;
    Target target;
    int unit = 0;                       // zero-based unit of a COM port: 0 is unit 1
    std::optional<std::int32_t> sense;  // modem lines of the unit's drawer when closed
    std::int32_t word = 0;              // `lines`
    bool on = false;                    // `fail-open`, `ignore-fires`
    bool reset = false;                 // `received --reset`
};

struct Parsed {
    std::optional<Command> command;
    std::string error;  // set when there is no command
};

// The arguments after the program name.
Parsed parse(std::span<const std::string> args);
std::string help_text();

// "cts", "ri+cts", "none", "all", "0x30"... as modem-line bits; none for
// anything else, or for bits that are no modem line.
std::optional<std::int32_t> parse_lines(std::string_view text);
// "cts+ri", "none"; bits that are no modem line follow in hex.
std::string lines_text(std::int32_t word);

// Whether the command changes the block, so its effect is lost unless
// another process holds the block.
bool changes_block(const Command& c);

struct Effect {
    std::string output;       // what to print, one or more lines, each ending in '\n'
    bool usb_report = false;  // the USB drawer sent a report: wake the drivers
};

// Carries out a block command (anything but Help, Hold and Release) on s,
// under the caller's lock. held: whether another process holds the block.
Effect execute(const Command& c, sim::SimState& s, bool held);

// The whole state: one line per port, unit and the USB drawer, or one JSON
// object per line.
std::string status_text(const sim::SimState& s, bool held, bool json);

}  // namespace zrn::drawersim
