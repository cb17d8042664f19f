#pragma once
// Firmware images and how they are obtained: the image-holding record (the image file names, the
// firmware image the flows download, the secondary image a resource load delivers, a copy of the
// loaded bytes and the dump buffer), the process-wide target memory size, and the operations that
// fill the record from a file, from a built-in "BINARY" resource or from the selected chip's
// default image, and that keep and save dumps.
//
// Buffers are byte vectors whose size is the 32-bit length; a buffer these operations create is
// filled with 0xFF, the erased value of every memory, before anything is copied into it.
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

// Target memory size in bytes, shared with the flows as their read length: whole-memory reads and
// erases cover this many bytes. Initially 0x40000; loading an image resource sets it to the
// resource's length, and a size of 0x4000 moves a KSC7040 configuration area to offset 0.
extern std::atomic<std::uint32_t> g_dwReadLength;
inline constexpr std::uint32_t kInitialReadLength = 0x40000;

// The image-holding record. One lives in every programming-flow object and one process-wide.
class CImageRecord {
public:
    std::string m_strImageFile;         // chosen by the operator or the command line
    std::string m_strSecondFile;        // further file names; a default image is loaded only while
    std::string m_strThirdFile;         // both are empty
    std::vector<std::uint8_t> m_image;  // the firmware image the flows download
    std::vector<std::uint8_t> m_secondary;  // target of resource loads
    std::vector<std::uint8_t> m_copy;       // second copy of the loaded file
    std::vector<std::uint8_t> m_dump;       // data read back from a device
    std::string m_strDumpFile;              // where the dump is saved
};

// The process-wide image-holding record.
extern CImageRecord g_ImageRecord;

// True when the file named by the image file name was read whole; its bytes become the firmware
// image and its copy. An empty name or a missing file keeps the previous image; a file that exists
// but cannot be read, or is empty, leaves neither image nor copy.
bool LoadImageFile(CImageRecord& record);
// The "BINARY" resource becomes the secondary image and its length the target memory size. A
// missing resource changes nothing.
void LoadImageResource(CImageRecord& record, std::int32_t id);
// Loads the selected chip's default image ("Def Bin") into the secondary image while the second
// and third file names are empty. Without a default image, or without any chip description, the
// secondary image becomes empty.
void LoadDefaultImage(CImageRecord& record);
// Frees the dump buffer, then allocates one of `count` bytes filled with 0xFF. False when the
// allocation failed; the record then holds no dump buffer.
bool AllocDumpBuffer(CImageRecord& record, std::uint32_t count);
// Writes the dump buffer to the dump file name (created or truncated). True when written whole.
bool WriteDumpFile(const CImageRecord& record);
