#include "cli/terminal_view.h"

#include "job/display_text.h"
#include "io/texts.h"

namespace zolt::cli {

namespace {
constexpr int BAR_WIDTH = 20;

std::string Bar(int percent) {
    const int filled = percent <= 0 ? 0 : percent >= 100 ? BAR_WIDTH : percent * BAR_WIDTH / 100;
    return "[" + std::string(filled, '#') + std::string(BAR_WIDTH - filled, '-') + "]";
}
}  // namespace

TerminalView::TerminalView(std::FILE* out, bool live) : out_(out), live_(live) {}

void TerminalView::Begin(const std::vector<int>& lineIndexes) {
    shown_ = lineIndexes;
    start_ = std::chrono::steady_clock::now();
    for (int i : shown_) {
        rows_[i].finished = rows_[i].failed = false;
        rows_[i].percent = 0;
    }
    drawn_ = 0;
    Redraw();
}

double TerminalView::Seconds(int line) const {
    const auto end = rows_[line].finished ? rows_[line].end : std::chrono::steady_clock::now();
    return std::chrono::duration<double>(end - start_).count();
}

void TerminalView::Finish(int line, bool failed) {
    if (!rows_[line].finished) rows_[line].end = std::chrono::steady_clock::now();
    rows_[line].finished = true;
    rows_[line].failed = failed;
    Redraw();
}

std::string TerminalView::Format(int line) const {
    const Row& r = rows_[line];
    const char* lamp = !r.attached ? "( )" : r.failed ? "(x)" : r.finished ? "(+)" : "(*)";
    std::string text = std::string(lamp) + " Line " + std::to_string(line + 1) + "  " + r.port + "  " +
                       Bar(r.percent) + " " + ProgressText(r.percent);
    text.resize(std::max<std::size_t>(text.size(), 72), ' ');
    return text + "  " + ElapsedText(static_cast<std::uint32_t>(Seconds(line))) + "  " + r.status;
}

void TerminalView::Redraw() {
    if (!live_) return;
    if (drawn_ > 0) std::fprintf(out_, "\x1b[%dA", drawn_);
    for (int i : shown_) std::fprintf(out_, "\r%s\x1b[K\n", Format(i).c_str());
    drawn_ = static_cast<int>(shown_.size());
    std::fflush(out_);
}

void TerminalView::SetLinePanel(int line, bool attached, int comPort, const std::string& portName) {
    rows_[line].attached = attached;
    rows_[line].port = comPort > 0 ? ComLabel(comPort) : portName;
    rows_[line].status = attached ? texts::WAITING : texts::NOT_USED;
}

void TerminalView::ResetLinePanel(int line) {
    rows_[line].status = texts::WAITING;
    rows_[line].percent = 0;
}

void TerminalView::SetLineStatus(int line, const std::string& text) {
    if (text == rows_[line].status) return;
    rows_[line].status = text;
    if (!live_) {
        std::fprintf(out_, "[%s] Line %d %s: %s\n", ElapsedText(static_cast<std::uint32_t>(Seconds(line))).c_str(),
                     line + 1, rows_[line].port.c_str(), text.c_str());
        std::fflush(out_);
    }
}

void TerminalView::ShowLineProgress(int line, int percent) { rows_[line].percent = percent; }

}  // namespace zolt::cli
