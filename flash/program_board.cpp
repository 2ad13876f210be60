#include "flash/program_board.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <system_error>

#include "common/log_line.h"
#include "flash/vocabulary.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

using namespace program_const;

constexpr const char kTooLarge[] = "larger than 64 MiB";

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

const char* FileKind(bool directory, bool fifo, bool device) {
  if (directory) return "a folder";
  if (fifo) return "a FIFO";
  if (device) return "a device";
  return "not a regular file";
}

// Opens only a regular file. The type is checked before reading: a FIFO with no
// writer would block a read (and a blocking open) for good, a device such as
// /dev/zero never ends, and a folder cannot be read at all.
std::unique_ptr<std::FILE, FileCloser> OpenRegularFile(const char* fileName, FileRead& read) {
  std::unique_ptr<std::FILE, FileCloser> file;
  std::uintmax_t size = 0;
#ifdef _WIN32
  std::error_code error;
  const std::filesystem::file_status status = std::filesystem::status(fileName, error);
  if (error) {
    read.result = kProgramFileNotOpened;
    read.reason = error.message();
    return file;
  }
  if (!std::filesystem::is_regular_file(status)) {
    read.result = kProgramFileNotOpened;
    read.reason = std::string("not a regular file: ") +
                  FileKind(std::filesystem::is_directory(status), std::filesystem::is_fifo(status),
                           std::filesystem::is_character_file(status) || std::filesystem::is_block_file(status));
    return file;
  }
  size = std::filesystem::file_size(fileName, error);
  file.reset(std::fopen(fileName, "rb"));
#else
  // O_NONBLOCK: opening a FIFO with no writer returns at once instead of
  // waiting; the type is then taken from the descriptor that was opened.
  const int fd = ::open(fileName, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    read.result = kProgramFileNotOpened;
    read.reason = std::strerror(errno);
    return file;
  }
  struct stat info {};
  if (::fstat(fd, &info) != 0) {
    read.result = kProgramFileNotOpened;
    read.reason = std::strerror(errno);
    ::close(fd);
    return file;
  }
  if (!S_ISREG(info.st_mode)) {
    read.result = kProgramFileNotOpened;
    read.reason = std::string("not a regular file: ") +
                  FileKind(S_ISDIR(info.st_mode), S_ISFIFO(info.st_mode), S_ISCHR(info.st_mode) || S_ISBLK(info.st_mode));
    ::close(fd);
    return file;
  }
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  size = static_cast<std::uintmax_t>(info.st_size);
  file.reset(::fdopen(fd, "rb"));
  if (!file) ::close(fd);
#endif
  if (!file) {
    read.result = kProgramFileNotOpened;
    read.reason = std::strerror(errno);
  } else if (size > kMaxFileBytes) {
    read.result = kProgramDataError;
    read.reason = kTooLarge;
    file.reset();
  }
  return file;
}

ProgramRun Failed(ProgramRun run, int result, LinkCommand command, const LinkOutcome& outcome) {
  run.result = result;
  run.command = command;
  run.outcome = outcome;
  return run;
}

// Reads each planned frame back and compares it with the image. Bytes a frame
// carries beyond the end of the flash were never stored and are not compared.
// kProgramDone, or the failed run.
ProgramRun VerifyFrames(BoardLink& link, const FlashImage& stamped, const FramePlan& plan, ProgramRun run,
                        ProgramObserver& observer) {
  for (const std::uint32_t start : plan.starts) {
    if (observer.StopRequested()) {
      run.result = kProgramInterrupted;
      run.command = LinkCommand::kRead;  // the read-back it did not send
      run.address = start;
      return run;
    }
    std::uint8_t block[plan_const::kBlockLength];
    FrameBytes(stamped, start, block);
    for (std::uint32_t offset = 0; offset < plan_const::kBlockLength; offset += frame::kReadBytes) {
      const std::uint32_t address = start + offset;
      if (address >= kFlashSize) break;
      std::uint8_t read[frame::kReadBytes];
      const LinkOutcome outcome = ReadFlashWords(link, address, read);
      if (!outcome.Accepted()) {
        run.address = address;
        return Failed(run, kProgramVerifyFailed, LinkCommand::kRead, outcome);
      }
      const std::uint32_t compared = std::min<std::uint32_t>(frame::kReadBytes, kFlashSize - address);
      for (std::uint32_t i = 0; i < compared; ++i) {
        if (read[i] != block[offset + i]) {
          run.address = address + i;
          return Failed(run, kProgramVerifyFailed, LinkCommand::kRead, outcome);
        }
      }
    }
  }
  return run;
}

}  // namespace

void StampIdentity(FlashImage& image, const char* serialNumber, const char* revision) {
  image[identity::kFlashOffset + identity::kRevisionAt] = static_cast<std::uint8_t>(revision[0]);
  const std::size_t length = strnlen(serialNumber, kSerialStampMax);
  std::uint8_t* serial = &image[identity::kFlashOffset + identity::kSerialAt];
  std::memcpy(serial, serialNumber, length);
  if (length < static_cast<std::size_t>(kSerialStampMax)) serial[length] = 0;
}

LoadReport LoadForProgramming(const char* text, std::size_t length, FlashImage& image) {
  LoadReport report = LoadSRecordText(text, length, image);
  if (report.result == kLoadOk && report.s3Records == 0) {
    report.result = kLoadDataError;
    report.reason = "the file holds no S3 record";
    LogLine("error in S Record data: the file holds no S3 record\n");
  }
  return report;
}

FileRead ReadSRecordStream(std::FILE* stream, std::string& bytes) {
  bytes.clear();
  FileRead read;
  char chunk[64 * 1024];
  for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, stream)) > 0;) {
    if (bytes.size() + n > kMaxFileBytes) {
      read.result = kProgramDataError;
      read.reason = kTooLarge;
      return read;
    }
    bytes.append(chunk, n);
  }
  if (std::ferror(stream)) {
    read.result = kProgramDataError;
    read.reason = std::strerror(errno);
  }
  return read;
}

FileRead ReadSRecordFile(const char* fileName, std::string& bytes) {
  bytes.clear();
  FileRead read;
  std::unique_ptr<std::FILE, FileCloser> file = OpenRegularFile(fileName, read);
  if (!file) return read;
  return ReadSRecordStream(file.get(), bytes);
}

ProgramRun ProgramImage(BoardLink& link, const FlashImage& stamped, ProgramObserver& observer,
                        const ProgramOptions& options) {
  ProgramRun run;
  const FramePlan plan = PlanFrames(stamped);
  run.framesPlanned = static_cast<int>(plan.starts.size());
  if (plan.unsentBytes > 0) {
    LogLine("%u bytes of data from %s are not sent: no frame reaches them\n", plan.unsentBytes,
            FlashAddress(plan.firstUnsent).c_str());
  }
  observer.RunStarted(run.framesPlanned);
  auto end = [&](ProgramRun finished) {
    observer.RunEnded(finished.result, finished.framesAcknowledged);
    return finished;
  };
  // The command that was not sent, so the front end can say where the run stopped.
  auto interrupted = [&](LinkCommand next, std::uint32_t address = 0) {
    run.result = kProgramInterrupted;
    run.command = next;
    if (next == LinkCommand::kProgram) {
      run.frame = run.framesAcknowledged + 1;
      run.address = address;
    }
    return end(run);
  };

  if (observer.StopRequested()) return interrupted(LinkCommand::kErase);
  const LinkOutcome erased = EraseFlash(link);
  if (!erased.Accepted()) return end(Failed(run, kProgramEraseFailed, LinkCommand::kErase, erased));
  LogLine("Program Flash\n");

  for (const std::uint32_t start : plan.starts) {
    if (observer.StopRequested()) return interrupted(LinkCommand::kProgram, start);
    std::uint8_t block[plan_const::kBlockLength];
    FrameBytes(stamped, start, block);
    const LinkOutcome sent = ProgramFlashBlock(link, start, block);
    if (!sent.Accepted()) {
      run.frame = run.framesAcknowledged + 1;
      run.address = start;
      return end(Failed(run, kProgramFrameFailed, LinkCommand::kProgram, sent));
    }
    observer.FrameAcknowledged(run.framesAcknowledged, start);
    ++run.framesAcknowledged;
  }

  if (options.verify) {
    LogLine("Verify Flash\n");
    run = VerifyFrames(link, stamped, plan, run, observer);
    if (run.result != kProgramDone) return end(run);
  }

  if (observer.StopRequested()) return interrupted(LinkCommand::kLock);
  const LinkOutcome locked = LockAndReset(link);
  if (!locked.Accepted()) return end(Failed(run, kProgramLockFailed, LinkCommand::kLock, locked));
  PauseLink(link, link.waits.pauseAfterLockMs);
  return end(run);
}

ProgramRun ProgramBoard(BoardLink& link, const char* fileName, const char* serialNumber, const char* revision,
                        ProgramObserver& observer) {
  ProgramRun run;
  std::string bytes;
  const FileRead read = ReadSRecordFile(fileName, bytes);
  if (read.result != kProgramDone) {
    LogLine(read.result == kProgramFileNotOpened ? "Cannot open S Record file %s: %s\n"
                                                 : "error reading S Record file %s: %s\n",
            fileName, read.reason.c_str());
    run.result = read.result;
    return run;
  }
  observer.FileRead(bytes.size());

  auto image = std::make_unique<FlashImage>();
  run.load = LoadForProgramming(bytes.data(), bytes.size(), *image);
  if (run.load.result != kLoadOk) {
    run.result = run.load.result;
    return run;
  }
  StampIdentity(*image, serialNumber, revision);

  ProgramRun sent = ProgramImage(link, *image, observer);
  sent.load = std::move(run.load);
  return sent;
}
