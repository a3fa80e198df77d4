// What the fuzz targets share: a scratch directory for the files they connect,
// a fresh layer for each run, and the stop at a finding.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace fuzz {

// A path in this process's scratch directory, made at the first call.
std::string ScratchPath(const char* name);
void WriteScratchFile(const std::string& path, const uint8_t* bytes, size_t size);
std::string ReadScratchFile(const std::string& path);

// Closes the files the previous run left connected, then resets and starts the layer.
void FreshLayer();
// Connects `unit` to `path` with a status; a refusal is a finding.
void Connect(int unit, const std::string& path, const char* action);

// Reports a finding with the two sides that differ, and aborts.
[[noreturn]] void Finding(const char* what, const std::string& one, const std::string& other);

}  // namespace fuzz
