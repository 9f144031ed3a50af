// SPDX-License-Identifier: MIT
// The second archive library: marker bytes, big-endian numbers, zlib.

#include <cstdlib>
#include <cstring>
#include <istream>
#include <ostream>
#include <stdexcept>
#include <string>

#include <zlib.h>

#include "rtarchive/archive.h"
#include "rtarchive/compression.h"

QmRTArchive::QmRTArchive(std::ostream& os)
    : m_storing(1), m_out(&os), m_in(nullptr) {}
QmRTArchive::QmRTArchive(std::istream& is)
    : m_storing(0), m_out(nullptr), m_in(&is) {}

void QmRTArchive::Put(char marker, const unsigned char* bytes, unsigned n) {
  if (m_out == nullptr)
    throw std::logic_error("altarchive: not a storing archive");
  m_out->put(marker);
  m_out->write(reinterpret_cast<const char*>(bytes), n);
  if (!*m_out)
    throw std::runtime_error("altarchive: the stream refused a write");
}

void QmRTArchive::Get(char marker, unsigned char* bytes, unsigned n) {
  if (m_in == nullptr)
    throw std::logic_error("altarchive: not a loading archive");
  const int m = m_in->get();
  if (m != static_cast<unsigned char>(marker)) {
    throw std::runtime_error(m == EOF
                                 ? "altarchive: the data ended"
                                 : std::string("altarchive: expected item '") +
                                       marker + "', found another");
  }
  if (!m_in->read(reinterpret_cast<char*>(bytes), n)) {
    throw std::runtime_error("altarchive: the data ended inside an item");
  }
}

// A number of n bytes, most significant first, after its marker.
void QmRTArchive::PutNumber(char marker, unsigned long long v, unsigned n) {
  unsigned char b[8];
  for (unsigned i = 0; i < n; ++i)
    b[i] = static_cast<unsigned char>(v >> (8 * (n - 1 - i)));
  Put(marker, b, n);
}

unsigned long long QmRTArchive::GetNumber(char marker, unsigned n) {
  unsigned char b[8];
  Get(marker, b, n);
  unsigned long long v = 0;
  for (unsigned i = 0; i < n; ++i) v = (v << 8) | b[i];
  return v;
}

QmRTArchive& QmRTArchive::operator<<(int value) {
  PutNumber('i', static_cast<unsigned>(value), 4);
  return *this;
}

QmRTArchive& QmRTArchive::operator>>(int& value) {
  value = static_cast<int>(static_cast<unsigned>(GetNumber('i', 4)));
  return *this;
}

QmRTArchive& QmRTArchive::operator<<(unsigned long value) {
  PutNumber('u', value, 8);
  return *this;
}

QmRTArchive& QmRTArchive::operator>>(unsigned long& value) {
  value = static_cast<unsigned long>(GetNumber('u', 8));
  return *this;
}

void QmRTArchive::WriteString(const char* s) {
  const auto n = static_cast<unsigned>(std::strlen(s));
  PutNumber('s', n, 4);
  m_out->write(s, n);
}

char* QmRTArchive::ReadString(char* buf, unsigned limit) {
  const auto n = static_cast<unsigned>(GetNumber('s', 4));
  if (n > limit) throw std::runtime_error("altarchive: a string too long");
  if (!m_in->read(buf, n))
    throw std::runtime_error("altarchive: the data ended inside a string");
  buf[n] = '\0';
  return buf;
}

void QmRTArchive::Write(const void* data, unsigned n) {
  Put('r', static_cast<const unsigned char*>(data), n);
}

unsigned QmRTArchive::Read(void* data, unsigned n) {
  Get('r', static_cast<unsigned char*>(data), n);
  return n;
}

CZLibCompression::CZLibCompression() = default;

CZLibCompression::~CZLibCompression() {
  for (void* p : m_blocks) std::free(p);
}

bool CZLibCompression::Compress(const void* in, unsigned long in_len,
                                unsigned long& out_len, void** out) {
  uLongf n = compressBound(in_len);
  void* block = std::malloc(n);
  if (block == nullptr) return false;
  if (compress2(static_cast<Bytef*>(block), &n, static_cast<const Bytef*>(in),
                in_len, 9) != Z_OK) {
    std::free(block);
    return false;
  }
  m_blocks.push_back(block);
  out_len = n;
  *out = block;
  return true;
}

bool CZLibCompression::Decompress(void* in, unsigned long in_len,
                                  unsigned long raw_len, void** out) {
  void* block = std::malloc(raw_len);
  if (block == nullptr) return false;
  uLongf n = raw_len;
  if (uncompress(static_cast<Bytef*>(block), &n, static_cast<const Bytef*>(in),
                 in_len) != Z_OK ||
      n != raw_len) {
    std::free(block);
    return false;
  }
  m_blocks.push_back(block);
  *out = block;
  return true;
}
