#pragma once

#include <cstdint>
#include <string_view>

namespace zrn::so {

// The Control Object's IDispatch, borrowed, never reference-counted.
using ControlObject = void*;

enum class ArgKind { I4, RefI4, RefBstr };

struct EventArg {
    ArgKind kind = ArgKind::I4;
    std::int32_t value = 0;  // I4 and RefI4; RefBstr always passes an empty string
};

// Delivers one event to a Control Object: looks the method up by name and
// calls it with the arguments, last argument first. Returns false when the
// name is unknown (the event is dropped).
class EventSink {
public:
    virtual ~EventSink() = default;
    virtual bool deliver(ControlObject co, std::string_view method, const EventArg* args_last_first, int count) = 0;
};

}  // namespace zrn::so
