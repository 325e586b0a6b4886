#include "cli/terminal_view.h"

#include <algorithm>
#include <utility>

#include "cli/tty.h"
#include "io/texts.h"
#include "job/display_text.h"

namespace zolt::cli {

namespace {
constexpr int BAR_WIDTH = 20;

// What usually helps a line that waits at a status text for a phone that does not answer.
const char* HelpFor(const std::string& status) {
    if (status == texts::WAIT_FOR_BOOT_LOAD) {
        return "no phone answers: check the cable and that the phone is switched on, or power-cycle it";
    }
    if (status == texts::WAIT_FOR_READ_FS) {
        return "the phone may still be in its boot loader: update without --with-cal to bring it back, "
               "or power-cycle it";
    }
    return nullptr;
}

// `text` in rows of at most `width` columns, broken at blanks where it can be.
std::vector<std::string> WrapWords(const std::string& text, std::size_t width) {
    std::vector<std::string> rows;
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t end = std::min(text.size(), at + width);
        if (end < text.size()) {
            const std::size_t blank = text.rfind(' ', end);
            if (blank != std::string::npos && blank > at) end = blank;
        }
        rows.push_back(text.substr(at, end - at));
        at = end;
        while (at < text.size() && text[at] == ' ') ++at;
    }
    return rows;
}

std::string Bar(int percent) {
    const int filled = percent <= 0 ? 0 : percent >= 100 ? BAR_WIDTH : percent * BAR_WIDTH / 100;
    return "[" + std::string(filled, '#') + std::string(BAR_WIDTH - filled, '-') + "]";
}
}  // namespace

TerminalView::TerminalView(std::FILE* out, bool live, std::function<int()> columns)
    : out_(out), live_(live), columns_(std::move(columns)), screen_(out) {
    if (!columns_) columns_ = [out] { return TerminalColumns(out); };
}

void TerminalView::Begin(const std::vector<int>& lineIndexes) {
    shown_ = lineIndexes;
    start_ = std::chrono::steady_clock::now();
    for (int i : shown_) {
        rows_[i].finished = rows_[i].failed = false;
        rows_[i].percent = 0;
    }
    screen_.Forget();
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

std::string TerminalView::Format(int line, int width) const {
    const Row& r = rows_[line];
    const char* lamp = !r.attached ? "( )" : r.failed ? "(x)" : r.finished ? "(+)" : "(*)";
    // Line numbers and ports padded to the widest shown, so that the bars stand one under
    // another also past line 9.
    std::size_t numberWidth = 1, portWidth = 0;
    for (int i : shown_) {
        numberWidth = std::max(numberWidth, std::to_string(i + 1).size());
        portWidth = std::max(portWidth, rows_[i].port.size());
    }
    std::string number = std::to_string(line + 1);
    number.resize(std::max(number.size(), numberWidth), ' ');
    std::string port = r.port;
    port.resize(std::max(port.size(), portWidth), ' ');
    const std::string head = std::string(lamp) + " Line " + number + "  ";
    std::string text = head + port + "  " + Bar(r.percent) + " " + ProgressText(r.percent);
    text.resize(std::max<std::size_t>(text.size(), 72), ' ');
    text += "  " + ElapsedText(static_cast<std::uint32_t>(Seconds(line))) + "  " + r.status;
    const auto fits = static_cast<std::size_t>(width);
    if (text.size() <= fits) return text;
    text = head + std::to_string(std::clamp(r.percent, 0, 100)) + "%  " + r.status;
    if (text.size() <= fits) return text;
    return fits > 3 ? text.substr(0, fits - 3) + "..." : text.substr(0, fits);
}

std::string TerminalView::HintOf(int line) const {
    const Row& r = rows_[line];
    const char* help = HelpFor(r.status);
    if (!help || r.finished) return {};
    const auto waited = std::chrono::steady_clock::now() - r.statusSince;
    if (waited < hintAfter_) return {};
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(waited).count();
    return "Line " + std::to_string(line + 1) + " has waited " + std::to_string(seconds) + " s at \"" + r.status +
           "\": " + help + " (--phone-wait SECONDS ends such a wait)";
}

void TerminalView::WriteDueHints() {
    for (int i : shown_) {
        if (rows_[i].hinted) continue;
        const std::string hint = HintOf(i);
        if (hint.empty()) continue;
        rows_[i].hinted = true;
        std::fprintf(out_, "[%s] %s\n", ElapsedText(static_cast<std::uint32_t>(Seconds(i))).c_str(), hint.c_str());
        std::fflush(out_);
    }
}

void TerminalView::Redraw() {
    if (!live_) {
        screen_.FlushNotices();
        WriteDueHints();
        return;
    }
    // One column short of the width: a row that filled it would wrap on some terminals.
    const int columns = columns_();
    const int width = std::max(columns > 0 ? columns - 1 : 79, 8);
    std::vector<std::string> rows;
    for (int i : shown_) rows.push_back(Format(i, width));
    // Hints stand below the rows, whole and broken between words: a row is cut to the
    // terminal's width.
    for (int i : shown_) {
        for (std::string& part : WrapWords(HintOf(i), static_cast<std::size_t>(width))) rows.push_back(std::move(part));
    }
    screen_.Draw(std::move(rows), width);
}

void TerminalView::SetLinePanel(int line, bool attached, int comPort, const std::string& portName) {
    rows_[line].attached = attached;
    rows_[line].port = comPort > 0 ? ComLabel(comPort) : portName;
    rows_[line].status = attached ? texts::WAITING : texts::NOT_USED;
}

void TerminalView::ResetLinePanel(int line) {
    rows_[line].status = texts::WAITING;
    rows_[line].statusSince = std::chrono::steady_clock::now();
    rows_[line].percent = 0;
}

void TerminalView::SetLineStatus(int line, const std::string& text) {
    if (text == rows_[line].status) return;
    rows_[line].status = text;
    rows_[line].statusSince = std::chrono::steady_clock::now();
    rows_[line].hinted = false;
    if (!live_) {
        std::fprintf(out_, "[%s] Line %d %s: %s\n", ElapsedText(static_cast<std::uint32_t>(Seconds(line))).c_str(),
                     line + 1, rows_[line].port.c_str(), text.c_str());
        std::fflush(out_);
    }
}

void TerminalView::ShowLineProgress(int line, int percent) { rows_[line].percent = percent; }

}  // namespace zolt::cli
