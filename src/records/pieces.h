// SPDX-License-Identifier: MIT
// Items read in pieces that grow with what has arrived. Internal; not
// installed.
//
// A loader that cannot tell whether the stream holds a claimed number of
// items reads them in pieces that grow by qmdata/claims.h's NextStep, each
// as large as all before it together, and only then makes the one block
// they go into. So a short input that claims a huge count fails after
// little allocation: memory stays within about twice the bytes received,
// plus the first piece.

#ifndef QMDATA_SRC_RECORDS_PIECES_H_
#define QMDATA_SRC_RECORDS_PIECES_H_

#include <cstddef>
#include <cstring>
#include <memory>
#include <vector>

#include "qmdata/claims.h"

namespace qmdata::detail {

template <typename E>
class Pieces {
 public:
  // Reads count items through read(E* dst, std::size_t n), piece by piece.
  template <typename Read>
  void Fill(std::size_t count, Read read) {
    for (std::size_t got = 0; got < count;) {
      const auto next =
          static_cast<std::size_t>(NextStep(got * sizeof(E)) / sizeof(E));
      const std::size_t k = count - got < next ? count - got : next;
      read(Add(k), k);
      got += k;
    }
  }
  // Appends a piece of k items and returns it.
  E* Add(std::size_t k) {
    m_parts.emplace_back();  // may throw; nothing is owned yet
    m_parts.back().reset(new E[k]);
    m_sizes.push_back(k);
    return m_parts.back().get();
  }
  // Copies every piece to dst in order, freeing each once copied.
  void MoveTo(E* dst) {
    for (std::size_t i = 0; i < m_parts.size(); ++i) {
      std::memcpy(dst, m_parts[i].get(), m_sizes[i] * sizeof(E));
      dst += m_sizes[i];
      m_parts[i].reset();
    }
  }

 private:
  std::vector<std::unique_ptr<E[]>> m_parts;
  std::vector<std::size_t> m_sizes;
};

}  // namespace qmdata::detail

#endif  // QMDATA_SRC_RECORDS_PIECES_H_
