#include "sim/trace.h"

#include <cstdio>

#include "sim/sim_error.h"

namespace zolt::sim {

TraceSink::TraceSink(std::ostream& out) : out_(&out) {}

std::shared_ptr<TraceSink> TraceSink::ToFile(const std::string& path) {
    std::shared_ptr<TraceSink> sink(new TraceSink());
    sink->file_.open(path, std::ios::out | std::ios::trunc);
    if (!sink->file_) throw SimError("cannot write the trace file " + path);
    sink->out_ = &sink->file_;
    return sink;
}

std::string HexBytes(std::span<const std::uint8_t> bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(bytes.size() * 3);
    for (std::uint8_t b : bytes) {
        if (!text.empty()) text += ' ';
        text += digits[b >> 4];
        text += digits[b & 0x0F];
    }
    return text;
}

void TraceSink::Frame(int phone, std::string_view direction, std::span<const std::uint8_t> bytes,
                      std::string_view note) {
    std::string text = HexBytes(bytes);
    if (!note.empty()) {
        text += "  (";
        text += note;
        text += ')';
    }
    Line(phone, direction, text);
}

void TraceSink::Event(int phone, std::string_view text) { Line(phone, "--", text); }

void TraceSink::Line(int phone, std::string_view direction, std::string_view text) {
    const double seconds = std::chrono::duration<double>(Clock::now() - origin_).count();
    char head[48];
    std::snprintf(head, sizeof head, "%11.6f #%d ", seconds, phone);
    std::lock_guard lock(mutex_);
    *out_ << head << direction << ' ' << text << '\n';
    out_->flush();
}

}  // namespace zolt::sim
