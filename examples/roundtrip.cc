// SPDX-License-Identifier: MIT
// The typical round trip: a data slice, a block of measurements and a
// quality tag saved to one archive file and loaded back.
//
//   qmdata_example [file]      (default: qmdata_roundtrip.bin here)
//
// Prints the file's full path.
// Exits 0 when everything loaded back equal, 1 otherwise.

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <stdexcept>
#include <string>

#include "drange/dataslice.h"
#include "drange/qualtag.h"
#include "mathla/vector.h"
#include "qmdata/failure.h"
#include "rtarchive/archive.h"
#include "rtarchive/compression.h"

namespace {

constexpr int kSamples = 1 << 20;  // 1 Mi measurements

// A slow triangle wave with a little noise from a fixed linear congruential
// generator, so every run (and every platform) writes the same data.
QmMathLA::vector<int> MakeMeasurements() {
  QmMathLA::vector<int> v(kSamples, nullptr, 0);
  std::uint32_t seed = 12345;
  for (int i = 0; i < kSamples; ++i) {
    seed = seed * 1664525u + 1013904223u;
    const int phase = i % 2000;
    const int wave = phase < 1000 ? phase : 2000 - phase;  // 0..1000..0
    const int noise = static_cast<int>(seed >> 29) - 4;    // -4..3
    v[i] = 1000 + wave + noise;
  }
  return v;
}

// Saves the three records to a new file and loads them back through the same
// std::fstream.
void RoundTrip(const std::string& path, QmDataSlice& slice,
               QmMathLA::vector<int>& measurements, qmo_qualtag& quality,
               QmDataSlice& loaded_slice,
               QmMathLA::vector<int>& loaded_measurements,
               qmo_qualtag& loaded_quality) {
  std::fstream file(
      path, std::ios::in | std::ios::out | std::ios::trunc | std::ios::binary);
  if (!file) throw std::runtime_error("cannot create the file");
  QmRTArchive out(file, QmRTArchive::Mode::Store);
  out << slice;
  measurements.ZipIn(out);  // the compressed vector record
  out << quality;
  // A store returns once its bytes are in the stream's buffer; Flush()
  // writes them out to the file, and throws QmArchiveError when the disk
  // does not take them (full, or failing).
  out.Flush();
  // A loading archive reads from the stream's read position; a file stream
  // has one position for reading and writing, now at the end.
  file.seekg(0);
  QmRTArchive in(file, QmRTArchive::Mode::Load);
  in >> loaded_slice;
  loaded_measurements.UnzipOut(in);
  in >> loaded_quality;
  // Closing checks the stream once more: it fails if anything written since
  // the flush could not be written out.
  file.close();
  if (!file) throw std::runtime_error("cannot write the file");
}

}  // namespace

int main(int argc, char** argv) {
  const std::string path =
      std::filesystem::absolute(argc > 1 ? argv[1] : "qmdata_roundtrip.bin")
          .string();

  // Variables 2, 7 and 11 over the 10 samples starting at 5.
  int var_list[] = {2, 7, 11};
  QmDataSlice slice(QmMathLA::vector<int>(3, var_list, 0), 5, 10);
  QmMathLA::vector<int> measurements = MakeMeasurements();
  qmo_qualtag quality = qmo_qual_good;

  std::cout << "slice:     " << slice;
  std::cout << "samples:   " << measurements.elems() << "\n";

  QmDataSlice loaded_slice;
  QmMathLA::vector<int> loaded_measurements;
  qmo_qualtag loaded_quality = qmo_qual_bad;
  try {
    RoundTrip(path, slice, measurements, quality, loaded_slice,
              loaded_measurements, loaded_quality);
  } catch (int) {
    // Records report every failure as the int -1, and why on the side.
    std::cerr << path << ": " << QmLastRecordFailure().message << "\n";
    return 1;
  } catch (const std::exception& e) {
    std::cerr << path << ": " << e.what() << "\n";
    return 1;
  }

  const bool slice_ok = loaded_slice == slice;
  const bool data_ok = loaded_measurements == measurements;
  const bool quality_ok = loaded_quality == quality;
  std::cout << "loaded:    " << loaded_slice;
  std::cout << "equal:     slice " << (slice_ok ? "yes" : "NO")
            << ", measurements " << (data_ok ? "yes" : "NO") << ", quality tag "
            << (quality_ok ? "yes" : "NO") << "\n";

  // The compressed size depends on the compression backend the library was
  // built with (libdeflate or zlib).
  std::ifstream file(path, std::ios::binary | std::ios::ate);
  const long long file_size = static_cast<long long>(file.tellg());
  if (file_size <= 0) {
    std::cerr << path << ": cannot read the file's size\n";
    return 1;
  }
  const long long raw_size = 4LL * measurements.elems();
  std::cout << "file:      " << path << ", " << file_size << " bytes ("
            << CZLibCompression::Backend() << ")\n";
  std::cout << "raw:       " << raw_size << " bytes of measurements\n";
  const long long ratio_x100 = (raw_size * 100 + file_size / 2) / file_size;
  std::cout << "ratio:     " << ratio_x100 / 100 << "."
            << (ratio_x100 % 100 < 10 ? "0" : "") << ratio_x100 % 100
            << " to 1 (raw measurements to file)\n";
  return slice_ok && data_ok && quality_ok ? 0 : 1;
}
