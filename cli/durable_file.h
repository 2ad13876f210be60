#pragma once

// Replacing a small file so that after a crash or a power cut it holds either
// the old or the new content, never a mix and never nothing: write a temporary
// file beside it, flush it to the disk, rename it over the old one, and flush
// the directory that records the rename. One file per platform does it.

#include <string>

// False with the reason in error; the old file is then untouched.
bool ReplaceFileDurably(const std::string& path, const std::string& content, std::string& error);
