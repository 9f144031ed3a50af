// SPDX-License-Identifier: MIT
// A per-thread spare of some costly object, lent to one borrower at a time.
// Internal; not installed.
//
// Making libdeflate's level-6 compressor allocates and clears its hash
// tables, work that does not shrink with the block, and callers make one
// CZLibCompression per record, however small; so each thread keeps one
// spare between objects. An object borrows the spare on first use
// and gives it back (or frees it, when the thread already has one) when
// destroyed.
//
// Objects may be destroyed during the thread's exit, after the spare's own
// destructor has run. The "gone" flag, a trivially destructible thread_local
// that stays readable to the end, tells them so: from then on nothing is lent
// and everything given back is freed.

#ifndef QMDATA_SRC_RTARCHIVE_THREAD_LOAN_H_
#define QMDATA_SRC_RTARCHIVE_THREAD_LOAN_H_

namespace qmdata::detail {

template <typename T, void (*Free)(T*)>
class ThreadLoan {
 public:
  // The thread's spare, now the caller's; null when there is none.
  static T* Borrow() {
    // t_gone is set by the thread's exit, which the analyser does not see.
    // cppcheck-suppress knownConditionTrueFalse
    if (t_gone) return nullptr;
    T* p = t_spare.p;
    t_spare.p = nullptr;
    return p;
  }

  // Keeps p as the thread's spare when there is room, else frees it.
  static void GiveBack(T* p) {
    if (p == nullptr) return;
    // cppcheck-suppress knownConditionTrueFalse
    if (!t_gone && t_spare.p == nullptr) {
      t_spare.p = p;
    } else {
      Free(p);
    }
  }

 private:
  struct Spare {
    T* p = nullptr;
    Spare() = default;
    Spare(const Spare&) = delete;
    Spare& operator=(const Spare&) = delete;
    ~Spare() {
      t_gone = true;
      if (p != nullptr) Free(p);
    }
  };
  // Per-thread state, touched only by its own thread.
  static inline thread_local Spare t_spare;      // NOLINT(cppcoreguidelines-avoid-non-const-global-variables)
  static inline thread_local bool t_gone = false;  // NOLINT(cppcoreguidelines-avoid-non-const-global-variables)
};

}  // namespace qmdata::detail

#endif  // QMDATA_SRC_RTARCHIVE_THREAD_LOAN_H_
