#pragma once

#include "simtext.h"

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

namespace tamlo::sim {

// The record of every request a simulator received, one line each, appended and flushed line
// by line so that a test or an operator can follow it while the simulator runs:
//
//   <epoch ms> <request bytes> -> <reply bytes | none> [<note>]
//
// e.g. "1796640000123 01 43 01 00 F1 9C -> 01 43 04 04 D2 01 00 9B 0C". The time is when the
// whole request had arrived, in milliseconds since the Unix epoch. The note names the fault that
// changed or withheld the reply, or why there was none (bad crc, incomplete, unknown meter...);
// a plain answer has none.
class RequestLog {
public:
    RequestLog() = default;
    ~RequestLog();
    RequestLog(const RequestLog&) = delete;
    RequestLog& operator=(const RequestLog&) = delete;

    // Opens `path` for appending. False (with errorText()) when it cannot be opened.
    bool open(const std::string& path);
    bool isOpen() const { return file_ != nullptr; }
    const std::string& errorText() const { return errorText_; }

    // Does nothing when no file is open.
    void write(std::int64_t epochMs, const Bytes& request, const std::optional<Bytes>& reply,
               std::string_view note);

    static std::string formatLine(std::int64_t epochMs, const Bytes& request,
                                  const std::optional<Bytes>& reply, std::string_view note);

private:
    std::FILE* file_ = nullptr;
    std::string errorText_;
};

}  // namespace tamlo::sim
