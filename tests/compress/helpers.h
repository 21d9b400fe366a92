// Small drivers that run the engine's passes in the callers' order.
#pragma once

#include "compress/compress.h"
#include "tests/compress/reference.h"

#include <cstring>

namespace tqtest {

inline void setData(tq::TCompress& c, const Bytes& data)
{
    c.Bytes.SetData(data.data(), data.size());
}

inline Bytes dataOf(const tq::TCompress& c)
{
    return Bytes(c.Bytes.Data.begin(), c.Bytes.Data.begin() + c.Bytes.DataLength);
}

inline Bytes tableOf(const tq::TCompress& c)
{
    return Bytes(c.Bytes.PairTable.begin(), c.Bytes.PairTable.begin() + 506);
}

// Reset, fill, build, sort (no time limit), code, put the table in front.
inline Bytes compressStream(tq::TCompress& c, const Bytes& data, std::int32_t skip)
{
    c.Reset();
    setData(c, data);
    c.Bytes.TimeLimitOn = false;
    c.Bytes.BuildTable(skip);
    c.Bytes.SortTable();
    c.CompressData();
    c.Bytes.PrependTable();
    return dataOf(c);
}

// Reset, fill with a whole stream, split off the table, decode.
inline Bytes decompressStream(tq::TCompress& c, const Bytes& stream)
{
    c.Reset();
    setData(c, stream);
    c.Bytes.SplitTable();
    c.DecompressData();
    return dataOf(c);
}

// The input as decoding gives it back: odd lengths gain one 0x00.
inline Bytes padded(Bytes data)
{
    if (data.size() % 2 != 0) {
        data.push_back(0);
    }
    return data;
}

inline Bytes bytesOf(const char* text)
{
    return Bytes(reinterpret_cast<const std::uint8_t*>(text),
                 reinterpret_cast<const std::uint8_t*>(text) + std::strlen(text));
}

} // namespace tqtest
