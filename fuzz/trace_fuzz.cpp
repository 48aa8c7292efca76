// Trace lines with arbitrary names and values, as the status callback and
// the methods write them; the names also as files found in the trace folder.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <string>

#include "fuzz_check.h"
#include "zrn/fakes/fake_clock.h"
#include "zrn/fakes/fake_files.h"
#include "zrn/trace.h"

using namespace zrn;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    fakes::FakeFiles files;
    fakes::FakeClock clock;
    TraceLog log(files, clock, "C:\\Trace");
    const std::string path = trace_file_name(clock.local_time(), "C:\\Trace");
    std::size_t before = 0;
    while (in.remaining_bytes() > 0) {
        const std::string name = in.ConsumeRandomLengthString(1200);
        const long value = in.ConsumeIntegral<std::int32_t>();
        // Any name in the trace folder: only a daily file's has an age, and
        // never one after today.
        int age = -1;
        if (trace_file_age(name, clock.local_time(), &age)) FUZZ_CHECK(age >= 0 && name.size() == 18);
        switch (in.ConsumeIntegralInRange(0, 4)) {
            case 0:
                log.messagef("%s,%s,%ld", "OnStatusCapture=", name.c_str(), value);
                break;
            case 1:
                log.messagef("%s%s", "> OpenService=", name.c_str());
                break;
            case 2:
                log.message(name);
                break;
            case 3:
                log.separator();
                break;
            default:
                log.section_break();
                break;
        }
        const std::string text = files.content(path);
        // Every entry is whole: the file only grows, and ends a line.
        FUZZ_CHECK(text.size() > before);
        FUZZ_CHECK(text.size() >= 2 && text.compare(text.size() - 2, 2, "\r\n") == 0);
        before = text.size();
    }
    return 0;
}
