#include "line/line_run.h"

#include <atomic>
#include <exception>
#include <thread>

#include "common/text.h"
#include "line/slot.h"
#include "os/host.h"

namespace {

// Why the file ends the line before any board, in one line.
std::string LoadMessage(const FirmwareFile& file) {
  std::string message = ProgramResultMessage(file.result);
  if (!file.reason.empty()) message += ": " + file.reason;
  if (file.load.line != 0) {
    message += " (line " + std::to_string(file.load.line) + ": " + file.load.reason + ")";
  } else if (file.result != kProgramFileNotOpened && !file.load.reason.empty()) {
    message += " (" + file.load.reason + ")";  // a segment or the whole file, not one record
  }
  return message;
}

}  // namespace

LineOpening OpenLine(const LineConfig& config, SerialStore& store) {
  LineOpening opening;
  NextSerialInfo next;
  StoreError e = store.UseRange(config.serialFrom);
  if (!e.Failed()) e = store.Next(next);
  if (e.Failed()) {
    opening.ending = EndingOf(e.failure);
    opening.endingText = Printable(e.message);
  } else if (config.count > 0 && next.left < static_cast<std::uint64_t>(config.count)) {
    opening.ending = LineEnding::kSerialsUsedUp;
    opening.endingText = next.left == 0 ? "The serial numbers from " + Printable(config.serialFrom) + " are used up"
                                        : "Only " + std::to_string(next.left) + " serial numbers are left from " +
                                              Printable(next.next) + ", not " + std::to_string(config.count);
  } else {
    opening.file = ReadFirmware(config.file, config.input);
    if (opening.file.result != kProgramDone) {
      opening.ending = LineEnding::kFileRefused;
      opening.endingText = LoadMessage(opening.file);
    }
  }
  return opening;
}

std::vector<SlotId> SlotsOf(const LineConfig& config) {
  std::vector<SlotId> slots;
  if (config.ports.size() > 1) {
    for (std::size_t i = 0; i < config.ports.size(); ++i) slots.push_back({static_cast<int>(i + 1), config.ports[i]});
  } else {
    slots.push_back({0, config.ports.empty() ? "" : config.ports.front()});
  }
  return slots;
}

std::vector<SlotFigures> RunLine(const FirmwareFile& image, ProductionLine& line,
                                 const std::vector<SlotObserver*>& observers, const LineStop& stop, LinkWatch* wireFiles,
                                 const std::function<void()>& idle) {
  const std::vector<SlotId> ids = SlotsOf(line.Config());
  std::vector<SlotFigures> slots(ids.size());
  if (ids.size() == 1) {
    slots[0] = RunSlot(ids[0], image, line, *observers[0], stop, wireFiles);
    return slots;
  }
  std::atomic<std::size_t> running{ids.size()};
  std::vector<std::thread> threads;
  for (std::size_t i = 0; i < ids.size(); ++i) {
    threads.emplace_back([&, i] {
      // No exception may end the process without a word (a fault of the tool's
      // own): it ends every slot, and the line says why.
      try {
        slots[i] = RunSlot(ids[i], image, line, *observers[i], stop, wireFiles);
      } catch (const std::exception& e) {
        line.End(LineEnding::kInternal, std::string("internal error: ") + e.what());
      } catch (...) {
        line.End(LineEnding::kInternal, "internal error: an unknown exception");
      }
      --running;
    });
  }
  while (running > 0) {
    if (idle) idle();
    SleepMs(line_const::kIdleMs);
  }
  for (std::thread& t : threads) t.join();
  return slots;
}

LineFigures FiguresOf(const std::vector<SlotFigures>& slots, double seconds) {
  LineFigures figures;
  for (const SlotFigures& slot : slots) {
    figures.passed += slot.passed;
    figures.failed += slot.failed;
    figures.retries += slot.retries;
    figures.firstPass += slot.firstPass;
    figures.passedSeconds += slot.passedSeconds;
  }
  figures.seconds = seconds;
  return figures;
}
