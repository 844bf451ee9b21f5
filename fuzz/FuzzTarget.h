#pragma once

// Every fuzz target defines this entry point. Under libFuzzer (clang,
// -fsanitize=fuzzer) it is driven with generated inputs; in the ordinary
// build the same code is linked with replay.cpp, which feeds it the stored
// corpus, so every input that once broke a reader stays a test.

#include <cstddef>
#include <cstdint>

#include <QByteArray>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

namespace pendrel::fuzz {

// The input without a copy; it lives only during the call.
inline QByteArray bytes(const uint8_t *data, size_t size)
{
    return QByteArray::fromRawData(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
}

// A property every answer must keep; a broken one aborts so that the fuzzer
// stops there and keeps the input.
void require(bool condition, const char *what);

} // namespace pendrel::fuzz
