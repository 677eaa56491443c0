#pragma once
// Where things sit in a DfuSe file: the USB DFU file format with a prefix that names targets and
// the image elements inside them. All multi-byte fields are little-endian.
//
//   offset   size  field
//        0      5  signature "DfuSe", no terminator
//        5      1  format version, 1
//        6      4  image size: the file's length without the DFU suffix
//       10      1  number of targets
//       11    274  first target prefix:
//       11      6    signature "Target"
//       17      1    alternate setting
//       18      4    target-named flag (non-zero when the name below is used)
//       22    255    target name, 0-terminated
//      277      4    target size: the bytes of its elements, element headers included
//      281      4    number of elements
//      285      4  first element's address
//      289      4  first element's size
//      293   size  first element's data
//      ...         further elements and targets, then the 16-byte DFU suffix
//
// The suffix is the last 16 bytes: device release (2), product ID (2), vendor ID (2), DFU
// DFU version (bcdDFU) (2, 0x011A for DfuSe), signature "UFD" (3), suffix length (1, 16) and a
// CRC-32 (4) over every byte of the file before it.
//
// Header-only constants, so that the firmware-image tool writes what the reader reads.

#include <cstddef>
#include <cstdint>

namespace DfuSeFileLayout {

inline constexpr char kSignature[5] = {'D', 'f', 'u', 'S', 'e'};
inline constexpr std::uint8_t kFormatVersion = 1;
inline constexpr std::size_t kPrefixSize = 11;

inline constexpr std::size_t kTargetPrefixOffset = 11;
inline constexpr std::size_t kTargetPrefixSize = 274;
inline constexpr char kTargetSignature[6] = {'T', 'a', 'r', 'g', 'e', 't'};
inline constexpr std::size_t kAlternateSettingOffset = 17;
inline constexpr std::size_t kTargetNamedOffset = 18;
inline constexpr std::size_t kTargetNameOffset = 22;
inline constexpr std::size_t kTargetNameSize = 255;
inline constexpr std::size_t kTargetSizeOffset = 277;
inline constexpr std::size_t kElementCountOffset = 281;

inline constexpr std::size_t kElementAddressOffset = 285;
inline constexpr std::size_t kElementSizeOffset = 289;
inline constexpr std::size_t kElementHeaderSize = 8;
inline constexpr std::size_t kElementDataOffset = 293;

inline constexpr std::size_t kSuffixSize = 16;
inline constexpr std::uint16_t kDfuSeSpecificationRelease = 0x011A;
inline constexpr char kSuffixSignature[3] = {'U', 'F', 'D'};

// Written into the target name of every image that our firmware-image tool makes. Such an image
// holds a pseudo-random payload and must only ever reach a simulated device; the engine reads the
// mark with LDfuSeFirmwareFile::IsSimulationImage.
inline constexpr char kSimulationMark[] = "SIMULATED DEVICES ONLY";

static_assert(kTargetPrefixOffset + kTargetPrefixSize == kElementAddressOffset);
static_assert(kElementAddressOffset + kElementHeaderSize == kElementDataOffset);
static_assert(kTargetNameOffset + kTargetNameSize == kTargetSizeOffset);

} // namespace DfuSeFileLayout
