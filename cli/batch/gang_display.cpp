#include "cli/batch/gang_display.h"

#include <algorithm>

#include "cli/batch/batch_text.h"
#include "common/diagnostic_line.h"
#include "cli/output/text_output.h"

namespace {

constexpr int kLineSteps = 10;          // a progress line at every tenth, off a terminal
constexpr std::size_t kResultWidth = 40;  // the table's last column, cut to keep a row on one line

// ANSI: to the start of the line `n` lines up; clear the whole line.
std::string Up(std::size_t n) { return "\x1b[" + std::to_string(n) + "F"; }
constexpr char kClearLine[] = "\x1b[2K";

}  // namespace

// One slot's events, turned into its row and, off a terminal, into lines.
class GangDisplay::View : public SlotObserver {
 public:
  View(GangDisplay& display, int slot) : display_(display), slot_(slot) {}

  void Waiting(const SlotId&, const std::string& nextSerial) override {
    Update([&](Row& row) {
      row.state = "waiting for a board";
      row.serial.clear();
      row.percent = -1;
    }, "waiting for a board (next serial number " + nextSerial + ")");
  }
  void Programming(const SlotId&, LinkMode transport, const IdentityTexts& found, const std::string& serial) override {
    frames_ = 0;
    shownStep_ = -1;
    Update([&](Row& row) {
      row.state = "programming";
      row.serial = Printable(serial);
      row.percent = 0;
    }, ProgrammingText(transport, found, serial));
  }
  void BoardDone(const SlotId&, const BoardResult& board, const RunReport& report, const Json& record) override {
    const std::string result = BoardResultText(board.serial, report);
    std::lock_guard lock(display_.mutex_);
    Row& row = display_.rows_[Index()];
    row.state = report.Succeeded() ? "done" : "failed";
    row.result = result;
    display_.changed_ = true;
    if (display_.json_) {
      std::fprintf(display_.out_, "%s\n", JsonLine(record).c_str());
      std::fflush(display_.out_);
    }
    if (!display_.quiet_ || !report.Succeeded()) display_.Event(slot_, result);
  }
  void WaitingToGo(const SlotId&) override {
    Update([](Row& row) { row.state = "waiting for it to go"; }, "waiting for the board to go");
  }
  void PortChanged(const SlotId& slot, bool down) override {
    Update([&](Row& row) { row.state = down ? "port down" : "waiting for a board"; }, PortChangeText(slot.port, down));
  }
  void Ended(const SlotId&, const SlotFigures& summary) override {
    Update([&](Row& row) {
      row.state = summary.endingText.empty() ? "ended" : "ended: " + summary.endingText;
      row.percent = -1;
      row.serial.clear();
    }, "ended" + (summary.endingText.empty() ? std::string() : ": " + summary.endingText));
  }

  void RunStarted(const SlotId&, int frames) override { frames_ = frames; }
  void FrameAcknowledged(const SlotId&, int index, std::uint32_t) override {
    if (frames_ <= 0) return;
    const int done = std::min(index + 1, frames_);
    const int percent = done * 100 / frames_;
    const int step = done * kLineSteps / frames_;
    std::lock_guard lock(display_.mutex_);
    Row& row = display_.rows_[Index()];
    if (row.percent != percent) display_.changed_ = true;
    row.percent = percent;
    if (step == shownStep_ || display_.inPlace_ || display_.quiet_) return;
    shownStep_ = step;
    display_.Event(slot_, row.serial + " programmed " + std::to_string(done) + " of " + std::to_string(frames_) +
                              " frames (" + std::to_string(percent) + "%)");
  }
  void Problem(const SlotId&, SlotProblem problem, const std::string& detail) override {
    std::lock_guard lock(display_.mutex_);
    PrintSlotProblem(display_.diag_, display_.logFile_, problem, detail);
  }
  void Diagnostic(const SlotId&, const std::string& line) override {
    std::lock_guard lock(display_.mutex_);
    display_.Event(slot_, EscapedLine(line));
  }

 private:
  std::size_t Index() const { return static_cast<std::size_t>(slot_ - 1); }

  template <typename Change>
  void Update(Change change, const std::string& line) {
    std::lock_guard lock(display_.mutex_);
    change(display_.rows_[Index()]);
    display_.changed_ = true;
    if (!display_.quiet_ && !display_.inPlace_) display_.Event(slot_, line);
  }

  GangDisplay& display_;
  int slot_;
  int frames_ = 0;
  int shownStep_ = -1;
};

GangDisplay::GangDisplay(std::FILE* diag, std::FILE* out, bool json, bool quiet, bool inPlace,
                         const std::vector<std::string>& interfaces, const std::string& logFile)
    : diag_(diag), out_(out), json_(json), quiet_(quiet), inPlace_(inPlace && !quiet), logFile_(logFile) {
  for (std::size_t i = 0; i < interfaces.size(); ++i) {
    Row row;
    row.interfaceName = Printable(interfaces[i]);
    rows_.push_back(row);
    views_.push_back(std::make_unique<View>(*this, static_cast<int>(i + 1)));
  }
}

GangDisplay::~GangDisplay() = default;

SlotObserver& GangDisplay::Slot(int slot) { return *views_[static_cast<std::size_t>(slot - 1)]; }

void GangDisplay::Redraw() {
  std::lock_guard lock(mutex_);
  if (!inPlace_ || !changed_) return;
  DrawTable();
}

// On a terminal the line goes above the table, which is drawn again below it;
// elsewhere it is a line of its own, named by its slot and port.
void GangDisplay::Event(int slot, const std::string& text) {
  const std::string line = "slot " + std::to_string(slot) + " (" + rows_[static_cast<std::size_t>(slot - 1)].interfaceName +
                           "): " + text;
  if (inPlace_) {
    if (drawn_) std::fputs(Up(rows_.size()).c_str(), diag_);
    std::fprintf(diag_, "%s%s\n", kClearLine, line.c_str());
    drawn_ = false;
    DrawTable();
    return;
  }
  std::fprintf(diag_, "%s\n", line.c_str());
  std::fflush(diag_);
}

void GangDisplay::DrawTable() {
  if (drawn_) std::fputs(Up(rows_.size()).c_str(), diag_);
  for (std::size_t i = 0; i < rows_.size(); ++i) {
    std::fprintf(diag_, "%s%s\n", kClearLine, RowText(static_cast<int>(i + 1)).c_str());
  }
  std::fflush(diag_);
  drawn_ = true;
  changed_ = false;
}

std::string GangDisplay::RowText(int slot) const {
  const Row& row = rows_[static_cast<std::size_t>(slot - 1)];
  const std::string percent = row.percent < 0 ? "" : std::to_string(row.percent) + "%";
  std::string result = row.result.substr(0, kResultWidth);
  char text[256];
  std::snprintf(text, sizeof text, "slot %-2d %-10s %-22s %-15s %4s  %s", slot, row.interfaceName.c_str(),
                row.state.substr(0, 22).c_str(), row.serial.c_str(), percent.c_str(), result.c_str());
  return text;
}
