// The engine's interface as both front ends, the reference engine, the test fixtures and the
// benchmarks see it: the file names, the conversion export and its type. The engine is an outside
// product; this is everything the programs assume of it.
#pragma once

#include <windows.h>

#include <algorithm>
#include <string_view>
#include <vector>

namespace korvane::engine_api {

// The engine library and its conversion export.
inline constexpr char kLibraryFileName[] = "quandrelsdk.dll";
inline constexpr wchar_t kLibraryFileNameW[] = L"quandrelsdk.dll";
inline constexpr char kConverterExportName[] = "KorvaneQuandrelConverter";
inline constexpr wchar_t kConverterExportNameW[] = L"KorvaneQuandrelConverter";

// The engine program (a console program despite its extension).
inline constexpr char kExecutableFileName[] = "quandrel.dll";
inline constexpr wchar_t kExecutableFileNameW[] = L"quandrel.dll";

// int __stdcall KorvaneQuandrelConverter(char* commandLine): the command line is a zero-terminated
// 8-bit text in the ANSI code page, writable by the engine; the result is the engine's code.
using ConverterFn = int(__stdcall*)(char* commandLine);

// Engines are built against callers that hand them a zero-filled buffer of this many bytes and may
// write anywhere inside it; a shorter buffer would let such an engine write past its end.
inline constexpr size_t kArgumentBufferBytes = 2048;

// The command line in a writable, zero-filled buffer of at least kArgumentBufferBytes bytes (its
// length plus the terminating zero when it is longer).
inline std::vector<char> ArgumentBuffer(std::string_view commandLine) {
  std::vector<char> buffer(std::max(kArgumentBufferBytes, commandLine.size() + 1), '\0');
  std::copy(commandLine.begin(), commandLine.end(), buffer.begin());
  return buffer;
}

// The conversion export of a loaded library, or null when it has none.
inline ConverterFn FindConverter(HMODULE library) noexcept {
  FARPROC entry = ::GetProcAddress(library, kConverterExportName);
  // Through void(*)(), the generic function pointer type, to the export's real signature.
  return reinterpret_cast<ConverterFn>(reinterpret_cast<void (*)()>(entry));
}

}  // namespace korvane::engine_api

// The export's declaration, for the libraries that define it.
extern "C" int __stdcall KorvaneQuandrelConverter(char* commandLine);
