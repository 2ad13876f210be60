#include "cli/format_args.h"

#include <charconv>
#include <string>

#include "flash/flash_image.h"
#include "flash/image_format.h"

namespace {

// "0x" and hex digits, or decimal digits. CLI11's own integer reading would take
// a leading 0 as octal, so a decimal number with one is refused as unclear.
bool ParseAddress(const std::string& text, std::uint32_t& value) {
  const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  if (!hex && text.size() > 1 && text[0] == '0') return false;
  const char* first = text.data() + (hex ? 2 : 0);
  const char* last = text.data() + text.size();
  const auto [end, error] = std::from_chars(first, last, value, hex ? 16 : 10);
  return error == std::errc() && end == last && first != last;
}

std::string CheckFormat(const std::string& value) {
  ImageFormat format;
  return ParseFormatName(value, format) ? "" : "the format is one of srec, ihex, elf, bin: " + value;
}

std::string CheckBase(const std::string& value) {
  std::uint32_t base = 0;
  if (!ParseAddress(value, base)) return "not an address (decimal without a leading 0, or hex after 0x): " + value;
  return base < kFlashSize ? "" : "the base lies outside the flash (0 to 0x1FFFF): " + value;
}

}  // namespace

void AddFormatOptions(CLI::App& command, InputChoice& input) {
  command.add_option_function<std::string>(
                 "--format", [&input](const std::string& value) { ParseFormatName(value, input.format); },
                 "Read FILE as srec, ihex, elf or bin (raw bytes); default: told from its content")
          ->type_name("FMT")
          ->check(CLI::Validator(CheckFormat, ""));
  CLI::Option* base =
      command.add_option_function<std::string>(
                 "--base", [&input](const std::string& value) { ParseAddress(value, input.base); },
                 "With --format bin: the flash address of the file's first byte (default 0)")
          ->type_name("ADDR")
          ->check(CLI::Validator(CheckBase, ""));
  command.final_callback([&input, base] {
    input.baseGiven = base->count() > 0;
    if (input.baseGiven && input.format != ImageFormat::kBinary) {
      throw CLI::ValidationError("--base", "applies only to --format bin");
    }
  });
}
