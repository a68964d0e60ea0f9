// IMC2/BKC2 reader: every structural element and metadata record is checked
// as it is met; the images are handed over only when all of them were read.

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "codec/frame_codec.h"
#include "codec/frame_order.h"
#include "image/image.h"
#include "imc2/imc2.h"
#include "imc2/metadata.h"
#include "imc2/stored_frames.h"
#include "platform/files.h"
#include "runtime/caller_flags.h"
#include "runtime/text.h"
#include "runtime/timetext.h"

using namespace qv::imc2;

namespace {

constexpr uint32_t kMandatoryGlobalKeys = 20;
constexpr uint64_t kMaxStoredLength = 2147483647;
// No image block is shorter: its head, two records and one data byte.
constexpr uint64_t kMinImageBlockBytes =
    kIMC2ImageHeadBytes + kIMC2MinImageRecords * METADATA_IN_FILE_SINGLE_ENTRY__SIZE_BYTES + 1;

using qv::platform::FilePtr;
using qv::platform::MallocPtr;
using qv::platform::readValue;
using qv::platform::tell64;
using qv::runtime::interruptRequested;
using qv::runtime::reportProgress;

// The images read so far; released with qvFreeBunch unless handed over.
// Frames in a caller's block stay the caller's.
class CLocalBunch {
 public:
  CLocalBunch() { qvInitializeBunchStructure(&m_bunch); }
  ~CLocalBunch() {
    if (m_bunch.imageArray != nullptr) {
      for (uint32_t i = 0; i < m_bunch.numFrames; ++i) {
        DIMAGE& img = m_bunch.imageArray[i];
        if (img.frameBuffer >= m_pBlockBegin && img.frameBuffer < m_pBlockEnd) {
          img.frameBuffer = nullptr;
        }
      }
    }
    qvFreeBunch(&m_bunch);
  }
  CLocalBunch(const CLocalBunch&) = delete;
  CLocalBunch& operator=(const CLocalBunch&) = delete;
  QVBUNCHOFIMAGES& get() { return m_bunch; }
  void release() { qvInitializeBunchStructure(&m_bunch); }
  void lendBlock(const uint8_t* apBegin, const uint8_t* apEnd) {
    m_pBlockBegin = apBegin;
    m_pBlockEnd = apEnd;
  }

 private:
  QVBUNCHOFIMAGES m_bunch;
  const uint8_t* m_pBlockBegin = nullptr;
  const uint8_t* m_pBlockEnd = nullptr;
};

class CIMC2Reader : public CIMC2Outcome {
 public:
  CIMC2Reader(const char* asFilePath, int* apiInInterrupt, double* apdOutPercentageFinished,
              qv::image::FrameBlock* apBlock, StoredFrameSink* apSink = nullptr)
      : m_sFilePath(asFilePath),
        m_piInterrupt(apiInInterrupt),
        m_pdProgress(apdOutPercentageFinished),
        m_pBlock(apBlock),
        m_pSink(apSink) {}

  bool read(QVBUNCHOFIMAGES* apImages) {
    if (!checkArguments(apImages) || !prepareTables() || !openFile()) return false;
    if (!readFileHeader() || !readGlobalBlock() || !allocateImages()) return false;
    if (m_pSink != nullptr) return readIntoSink();
    reserveBlock();
    if (!readImageBlocks()) return false;
    m_file.reset();
    apImages->imageArray = m_images.get().imageArray;
    apImages->numFrames = m_n;
    m_images.release();
    return true;
  }

 private:
  // The frames go to the sink as they are stored; no bunch is handed over.
  bool readIntoSink() {
    std::string sWhy;
    if (!m_pSink->begin(m_template, m_n, sWhy)) return fail(kStoppedByPeer, sWhy);
    return readImageBlocks();
  }

  std::string quoted() const { return imc2FileQuote(m_sFilePath); }
  std::string ofImage(uint32_t i) const { return std::to_string(i) + " of " + std::to_string(m_n); }

  bool checkArguments(QVBUNCHOFIMAGES* apImages) {
    if (m_sFilePath == nullptr) {
      return fail(kReadBadArgument, "Parameter asFilePath must not be NULL.");
    }
    if (m_sFilePath[0] == '\0') {
      return fail(kReadBadArgument, "Parameter asFilePath must not be empty string.");
    }
    if (apImages == nullptr) {
      return fail(kReadBadArgument, quoted() + " load error: Parameter apImages must not be NULL.");
    }
    if (apImages->numFrames != 0) {
      return fail(kReadBadArgument, quoted() +
                                        " load error: Parameter apImages->numFrames must "
                                        "not be bigger than zero.");
    }
    if (apImages->imageArray != nullptr) {
      return fail(kReadBadArgument, quoted() +
                                        " load error: Parameter apImages->imageArray must "
                                        "not be initialized (!=NULL).");
    }
    return true;
  }

  // Working copies: the constant tables are never marked.
  bool prepareTables() {
    const size_t iGlobalBytes = sizeof kGlobalMetadataKeys;
    m_pGlobalKeys.reset(static_cast<METADATA_KEY_DEFINITION*>(malloc(iGlobalBytes)));
    if (!m_pGlobalKeys) {
      return fail(kReadNoTableMemory, quoted() +
                                          " load error: Memory allocation error "
                                          "(globalMetaDataEntries, size=" +
                                          std::to_string(iGlobalBytes) + " bytes).");
    }
    memcpy(m_pGlobalKeys.get(), kGlobalMetadataKeys, iGlobalBytes);
    const size_t iImageBytes = sizeof kImageMetadataKeys;
    m_pImageKeys.reset(static_cast<METADATA_KEY_DEFINITION*>(malloc(iImageBytes)));
    if (!m_pImageKeys) {
      return fail(kReadNoTableMemory, quoted() +
                                          " load error: Memory allocation error "
                                          "(imageMetaDataEntries, size=" +
                                          std::to_string(iImageBytes) + " bytes).");
    }
    memcpy(m_pImageKeys.get(), kImageMetadataKeys, iImageBytes);
    return true;
  }

  bool openFile() {
    m_file = qv::platform::openForReading(m_sFilePath);
    if (!m_file || !qv::platform::fileSize(m_file.get(), m_iFileSize)) {
      m_file.reset();
      return fail(kReadOpenFailed, quoted() + " could not be opened for reading.");
    }
    reportProgress(m_pdProgress, 0.01);
    return true;
  }

  bool readFileHeader() {
    uint32_t uiMagic1 = 0, uiMagic2 = 0, G = 0;
    uint8_t cr = 0, lf = 0;
    if (!readValue(m_file.get(), uiMagic1))
      return fail(kReadIoError, quoted() + " read error (magic1).");
    if (!readValue(m_file.get(), uiMagic2))
      return fail(kReadIoError, quoted() + " read error (magic2).");
    reportProgress(m_pdProgress, 0.02);
    if (uiMagic1 != 0)
      return fail(kReadNotIMC2, quoted() + " is no imc2(bkc2) file (magic1 not zero).");
    if (uiMagic2 != 1)
      return fail(kReadNotIMC2, quoted() + " is no imc2(bkc2) file (magic2 not one).");

    if (!readValue(m_file.get(), G)) {
      return fail(kReadIoError, quoted() + " read error (number_of_global_metadata_sets_in_file).");
    }
    if (!readValue(m_file.get(), cr)) {
      return fail(kReadIoError, quoted() +
                                    " read error (carriage return after "
                                    "number_of_global_metadata_sets_in_file).");
    }
    if (!readValue(m_file.get(), lf)) {
      return fail(kReadIoError, quoted() +
                                    " read error (line feed after "
                                    "number_of_global_metadata_sets_in_file).");
    }
    if (cr != 13) {
      return fail(kReadNotIMC2, quoted() +
                                    " parse error (incorrect carriage return value after "
                                    "number_of_global_metadata_sets_in_file (must be 13, but is " +
                                    std::to_string(cr) + ").");
    }
    if (lf != 10) {
      return fail(kReadNotIMC2, quoted() +
                                    " parse error (incorrect line feed value after "
                                    "number_of_global_metadata_sets_in_file (must be 10, but is " +
                                    std::to_string(lf) + ").");
    }
    if (G < kMandatoryGlobalKeys) {
      return fail(kReadNotIMC2, quoted() + " parse error (number_of_global_metadata_sets_in_file(" +
                                    std::to_string(G) +
                                    ") must be larger than or equal "
                                    "n_mandatory_global_metadata_sets_in_file(" +
                                    std::to_string(kMandatoryGlobalKeys) + ").");
    }
    if (G > kIMC2MaxGlobalRecords) {
      return fail(kReadNotIMC2, quoted() + " parse error (number_of_global_metadata_sets_in_file(" +
                                    std::to_string(G) + ") must less than or equal 100.");
    }
    m_uiGlobalRecords = G;
    return true;
  }

  void prepareTemplate() {
    DIMAGE& t = m_template;
    t = qv::image::unknownHeader();
    int64_t iModified = 0;
    t.sourceHeader.timestampSeconds = qv::platform::fileModificationTime(m_sFilePath, iModified)
                                          ? static_cast<uint32_t>(iModified)
                                          : 0;
    _internal_shortenPath(m_sFilePath, t.sourceHeader.cameraPortName,
                          sizeof t.sourceHeader.cameraPortName);
  }

  static int findRow(const METADATA_KEY_DEFINITION* apTable, uint32_t aiRows,
                     const std::string& sKey) {
    for (uint32_t i = 0; i < aiRows; ++i) {
      if (metadataKeyEquals(apTable[i].key, sKey.c_str())) return static_cast<int>(i);
    }
    return -1;
  }

  // The value passed validation, so the typed conversions cannot fail here.
  bool applyGlobal(const std::string& sKey, const std::string& sValue) {
    FRAMEHEADER& f = m_template.frameHeader;
    SOURCEHEADER& s = m_template.sourceHeader;
    const char* v = sValue.c_str();
    switch (findRow(kGlobalMetadataKeys, kNumGlobalMetadataKeys, sKey)) {
      case kGNumberOfImages:
        str2uint32(&m_n, v, 10);
        break;
      case kGScaleX:
        str2float(&f.xScale, v);
        break;
      case kGScaleY:
        str2float(&f.yScale, v);
        break;
      case kGSourceWidth:
        str2int32(&f.sourceWidth, v, 10);
        break;
      case kGSourceHeight:
        str2int32(&f.sourceHeight, v, 10);
        break;
      case kGAoiWidth:
        str2int32(&f.aoiWidth, v, 10);
        break;
      case kGAoiHeight:
        str2int32(&f.aoiHeight, v, 10);
        break;
      case kGXStart:
        str2int32(&f.xStart, v, 10);
        break;
      case kGYStart:
        str2int32(&f.yStart, v, 10);
        break;
      case kGBytesPerPixel:
        str2int32(&f.bytesPerPixel, v, 10);
        break;
      case kGEffectiveBits:
        str2int32(&f.effectiveBitsPerPixel, v, 10);
        break;
      case kGHorizontalBinning:
        str2int32(&f.horizontalBinning, v, 10);
        break;
      case kGVerticalBinning:
        str2int32(&f.verticalBinning, v, 10);
        break;
      case kGImageRotation:
        str2float(&f.imageRotation, v);
        break;
      case kGScaleXOffset:
        str2float(&f.scale_x_offset, v);
        break;
      case kGScaleYOffset:
        str2float(&f.scale_y_offset, v);
        break;
      case kGSourceFormat:
        if (!CDIMAGE::getFormatFromString(v, &f.sourceFormat)) {
          return fail(kReadNotIMC2, quoted() + " parse error: Global metadata source_format=" +
                                        sValue + " could not be converted.");
        }
        break;
      case kGImageFormat:
        if (!CDIMAGE::getFormatFromString(v, &f.imageFormat)) {
          return fail(kReadNotIMC2, quoted() + " parse error: Global metadata image_format=" +
                                        sValue + " could not be converted.");
        }
        break;
      case kGCameraPortName:
        if (sValue.empty()) {
          return fail(kReadNotIMC2, quoted() +
                                        " parse error: Global metadata camera_port_name "
                                        "must not be empty if specified.");
        }
        // 64 characters or more fill the field without a terminator.
        memset(s.cameraPortName, 0, sizeof s.cameraPortName);
        memcpy(s.cameraPortName, v, std::min(sValue.size(), sizeof s.cameraPortName));
        break;
      case kGCameraPortId: {
        uint32_t uiPortId = 0;
        str2uint32(&uiPortId, v, 10);
        s.cameraPortId = static_cast<int32_t>(uiPortId);
        break;
      }
      default:  // width_px, height_px and keys of other writers
        break;
    }
    return true;
  }

  bool readGlobalBlock() {
    prepareTemplate();
    const uint32_t G = m_uiGlobalRecords;
    std::string sKey, sValue;
    char sValidation[200];
    for (uint32_t k = 1; k <= G; ++k) {
      const int r = _internal_read_metadata_set_from_file(m_file.get(), sKey, sValue);
      if (r != kMetaOk) {
        return fail(r, "Error at _internal_read_metadata_set_from_file while reading " +
                           std::to_string(k) + " of " + std::to_string(G) +
                           " global metadata set from file \"" + m_sFilePath + "\".");
      }
      if (!_internal_validate_metadata_set(sKey.c_str(), sValue.c_str(), m_pGlobalKeys.get(),
                                           kNumGlobalMetadataKeys, sValidation,
                                           sizeof sValidation)) {
        return fail(kReadNotIMC2, quoted() + " parse error: Error validating Key=Value \"" + sKey +
                                      "=" + sValue + "\" at global_metadata_set " +
                                      std::to_string(k) + " of " + std::to_string(G));
      }
      if (!applyGlobal(sKey, sValue)) return false;
    }
    for (uint32_t row = 0; row < kNumGlobalMetadataKeys; ++row) {
      const METADATA_KEY_DEFINITION& def = m_pGlobalKeys.get()[row];
      if (def.mandatory == 1 && def.found != 1) {
        return fail(kReadNotIMC2, quoted() + " parse error: Mandatory meta data key \"" + def.key +
                                      " is missing in file.");
      }
    }
    if (m_n == 0) {
      return fail(kReadNotIMC2,
                  quoted() + " parse error: Meta value images_in_file=0 invalid. Must be >0.");
    }
    return true;
  }

  // The array holds no more records than the rest of the file has image
  // blocks (plus the one whose failure ends the read), so a count far beyond
  // the file costs no memory and fails where its first missing block is.
  bool allocateImages() {
    const int64_t iPosition = tell64(m_file.get());
    const uint64_t iRemaining = iPosition >= 0 && iPosition <= m_iFileSize
                                    ? static_cast<uint64_t>(m_iFileSize - iPosition)
                                    : 0;
    m_iBytesForImages = iRemaining;
    const uint64_t iBlocksThatFit = iRemaining / kMinImageBlockBytes;
    const uint32_t iRecords = static_cast<uint32_t>(std::min<uint64_t>(m_n, iBlocksThatFit + 1));
    DIMAGE* pArray = static_cast<DIMAGE*>(calloc(iRecords, sizeof(DIMAGE)));
    if (pArray == nullptr) {
      return fail(kReadNoMemory, quoted() +
                                     " load error: Memory allocation error "
                                     "QVBUNCHOFIMAGES imageArray[" +
                                     std::to_string(m_n) + "].");
    }
    m_images.get().imageArray = pArray;
    m_images.get().numFrames = iRecords;
    for (uint32_t i = 0; i < iRecords; ++i) {
      pArray[i] = m_template;
      pArray[i].frameHeader.frameNumber = i + 1;
    }
    reportProgress(m_pdProgress, 0.05);
    return true;
  }

  // The caller's block, asked for once the frames' count and size are known.
  void reserveBlock() {
    if (m_pBlock == nullptr) return;
    const int64_t iFrameBytes = qv::image::uncompressedFrameSize(m_template);
    if (iFrameBytes <= 0 || iFrameBytes > MAX_TRANSPORT_SIZE) return;
    // No more frames than the rest of the file can hold streams for.
    const uint64_t iLeastBlock =
        kMinImageBlockBytes - 1 + std::max<uint64_t>(1, iFrameBytes / qv::codec::kMaxExpansion);
    const uint32_t iImages = static_cast<uint32_t>(
        std::min<uint64_t>(m_images.get().numFrames, m_iBytesForImages / iLeastBlock + 1));
    m_iBlockFrameBytes = static_cast<uint64_t>(iFrameBytes);
    m_pBlockBase = m_pBlock->reserve(iImages, m_iBlockFrameBytes);
    if (m_pBlockBase == nullptr) return;
    m_iBlockImages = iImages;
    m_images.lendBlock(m_pBlockBase, m_pBlockBase + iImages * m_iBlockFrameBytes);
  }

  // Frame i's buffer: its place in the caller's block when it fits there.
  uint8_t* frameBufferFor(uint32_t i, uint64_t ulen) {
    if (m_pBlockBase != nullptr && i <= m_iBlockImages && ulen == m_iBlockFrameBytes) {
      return m_pBlockBase + (i - 1) * m_iBlockFrameBytes;
    }
    return static_cast<uint8_t*>(malloc(static_cast<size_t>(ulen)));
  }

  bool applyImage(DIMAGE& aImg, uint32_t i, const std::string& sKey, const std::string& sValue) {
    const char* v = sValue.c_str();
    switch (findRow(kImageMetadataKeys, kNumImageMetadataKeys, sKey)) {
      case kITimestampUtc: {
        int64_t iSeconds = 0;
        uint32_t uiMicroseconds = 0;
        if (!platformUTCStringToTime(v, &iSeconds, &uiMicroseconds)) {
          return fail(kReadNotIMC2,
                      quoted() + " parse error: Per-image metadata timestamp_utc=" + sValue +
                          " could not be converted to UTC timestamp,for image " + ofImage(i) + ".");
        }
        aImg.sourceHeader.timestampSeconds = static_cast<uint32_t>(iSeconds);
        aImg.sourceHeader.timestampMicroseconds = uiMicroseconds;
        break;
      }
      case kIImageFlags:
        if (!CDIMAGE::getFlagsFromString(v, &aImg.frameHeader.imageFlags)) {
          return fail(kReadNotIMC2,
                      quoted() + " parse error: Per-image metadata image_flags=" + sValue +
                          " could not be converted to flags bits,for image " + ofImage(i) + ".");
        }
        break;
      case kIFrameNumber:
        str2uint32(&aImg.frameHeader.frameNumber, v, 10);
        break;
      case kIEventNumber:
        str2uint32(&aImg.frameHeader.eventNumber, v, 10);
        break;
      default:  // image_start and keys of other writers
        break;
    }
    return true;
  }

  bool readImageRecords(DIMAGE& aImg, uint32_t i, uint32_t P) {
    METADATA_KEY_DEFINITION* pTable = m_pImageKeys.get();
    for (uint32_t row = 0; row < kNumImageMetadataKeys; ++row) pTable[row].found = 0;
    std::string sKey, sValue;
    char sValidation[200];
    for (uint32_t k = 1; k <= P; ++k) {
      const int r = _internal_read_metadata_set_from_file(m_file.get(), sKey, sValue);
      if (r != kMetaOk) {
        return fail(r, "Error at _internal_read_metadata_set_from_file while reading " +
                           std::to_string(k) + " of " + std::to_string(P) +
                           " per-image metadata set of image " + ofImage(i) + " from file \"" +
                           m_sFilePath + "\".");
      }
      if (!_internal_validate_metadata_set(sKey.c_str(), sValue.c_str(), pTable,
                                           kNumImageMetadataKeys, sValidation,
                                           sizeof sValidation)) {
        return fail(kReadNotIMC2, quoted() + " parse error: Error validating KeyValue=\"" + sKey +
                                      "=" + sValue + "\" at image_metadata_set " +
                                      std::to_string(k) + " of " + std::to_string(P) +
                                      " of image " + ofImage(i) + ".)");
      }
      if (!applyImage(aImg, i, sKey, sValue)) return false;
    }
    for (uint32_t row = 0; row < kNumImageMetadataKeys; ++row) {
      if (pTable[row].mandatory == 1 && pTable[row].found != 1) {
        return fail(kReadNotIMC2, quoted() + " parse error: Mandatory per-image meta data key \"" +
                                      pTable[row].key + " is missing in file.");
      }
    }
    return true;
  }

  bool failInvalidImage(uint32_t i) {
    return fail(kReadInvalidImage, quoted() +
                                       " load error: _internal_qvCheckImageValidity failed "
                                       "at image " +
                                       ofImage(i) + ".");
  }
  bool failDecompression(uint32_t i) {
    return fail(
        kReadZlibFailed,
        quoted() + " decompression error: zlib decompression failed at image " + ofImage(i) + ".");
  }

  // A frame between reading and checking: its stream waits in the slot's
  // buffer for a codec thread to inflate it into the image's own buffer.
  struct PendingFrame {
    qv::codec::SlotBuffer stream;
    DIMAGE* image = nullptr;
    uint64_t streamBytes = 0;
    uint64_t frameBytes = 0;
    bool compressed = false;
  };

  // This thread reads the blocks, tests the interrupt flag before each one,
  // checks the images and reports progress, all in image order; the codec's
  // threads inflate the frames meanwhile.
  bool readImageBlocks() {
    // Stored frames are not inflated: there is no work to share.
    const unsigned threads = m_pSink != nullptr ? 1 : qv::codec::codecThreads(m_n);
    std::vector<PendingFrame> slots(qv::codec::frameSlots(threads));
    qv::codec::FrameSteps steps;
    steps.prepare = [&](uint32_t frame, unsigned slot) {
      if (interruptRequested(m_piInterrupt)) {
        return fail(kReadInterrupted, quoted() + " load error: Interrupted by user.");
      }
      return readImageBlock(frame + 1, slots[slot]);
    };
    steps.work = [&](uint32_t, unsigned slot) {
      const PendingFrame& p = slots[slot];
      // A stream that ends early would leave part of the frame undefined.
      return !p.compressed || m_pSink != nullptr ||
             qv::codec::inflateExactly(p.stream.data(), p.streamBytes, p.image->frameBuffer,
                                       p.frameBytes);
    };
    steps.finish = [&](uint32_t frame, unsigned slot, bool inflated) {
      const uint32_t i = frame + 1;
      if (!inflated) return failDecompression(i);
      if (m_pSink != nullptr) return handToSink(i, slots[slot]);
      if (!_internal_qvCheckImageValidity(slots[slot].image)) return failInvalidImage(i);
      reportProgress(m_pdProgress, 0.05 + 0.95 * static_cast<double>(i) / m_n);
      return true;
    };
    return qv::codec::runInFrameOrder(m_n, threads, steps);
  }

  bool handToSink(uint32_t i, const PendingFrame& aPending) {
    const DIMAGE& img = *aPending.image;
    DIMAGE checked = qv::image::withStandInFrame(img, static_cast<uint32_t>(aPending.frameBytes));
    if (!_internal_qvCheckImageValidity(&checked)) return failInvalidImage(i);
    StoredFrame stored;
    stored.bytes = aPending.stream.data();
    stored.length = aPending.streamBytes;
    stored.compressed = aPending.compressed;
    std::string sWhy;
    if (!m_pSink->frame(i - 1, img, stored, sWhy)) return fail(kStoppedByPeer, sWhy);
    reportProgress(m_pdProgress, 0.05 + 0.95 * static_cast<double>(i) / m_n);
    return true;
  }

  bool readImageBlock(uint32_t i, PendingFrame& aPending) {
    if (i > m_images.get().numFrames) {
      // Cannot happen: the array covers every block the file can hold.
      return fail(kReadIoError, quoted() +
                                    " read error: Unable to read len_uncompressed value at image " +
                                    ofImage(i) + ".");
    }
    DIMAGE& img = m_images.get().imageArray[i - 1];
    FILE* f = m_file.get();
    uint64_t ulen = 0, clen = 0;
    uint32_t P = 0;
    uint8_t cr = 0, lf = 0;
    if (!readValue(f, ulen)) {
      return fail(kReadIoError, quoted() +
                                    " read error: Unable to read len_uncompressed value at image " +
                                    ofImage(i) + ".");
    }
    if (ulen > kMaxStoredLength) {
      return fail(kReadLengthTooLarge,
                  quoted() + " parse error: len_uncompressed too large (" + std::to_string(ulen) +
                      " > 2147483647(int32t_max) at image " + ofImage(i) + ".");
    }
    if (!readValue(f, clen)) {
      return fail(kReadIoError, quoted() +
                                    " read error: Unable to read len_compressed value at image " +
                                    ofImage(i) + ".");
    }
    if (clen > kMaxStoredLength) {
      return fail(kReadLengthTooLarge,
                  quoted() + " parse error: len_compressed too large (" + std::to_string(clen) +
                      " > 2147483647(int32t_max) of image " + ofImage(i) + ".");
    }
    if (!readValue(f, P)) {
      return fail(kReadIoError,
                  quoted() + " read error: Unable to read num_image_metadata_sets of image " +
                      ofImage(i) + ".");
    }
    if (!readValue(f, cr)) {
      return fail(kReadIoError,
                  quoted() +
                      " read error (carriage return after num_image_metadata_sets of image " +
                      ofImage(i) + ").");
    }
    if (!readValue(f, lf)) {
      return fail(kReadIoError,
                  quoted() + " read error (line feed after num_image_metadata_sets of image " +
                      ofImage(i) + ").");
    }
    if (cr != 13) {
      return fail(kReadNotIMC2, quoted() +
                                    " parse error (incorrect carriage return value after "
                                    "num_image_metadata_sets of image " +
                                    ofImage(i) + "(must be 13, but is " + std::to_string(cr) +
                                    ")).");
    }
    if (lf != 10) {
      return fail(kReadNotIMC2, quoted() +
                                    " parse error (incorrect line feed value after "
                                    "num_image_metadata_sets of image " +
                                    ofImage(i) + "(must be 10, but is " + std::to_string(lf) +
                                    ")).");
    }
    if (clen == 0 || ulen == 0 || ulen < clen) {
      return fail(kReadNotIMC2, quoted() + " parse error: Value of len_compressed(" +
                                    std::to_string(clen) + ") or len_uncompressed(" +
                                    std::to_string(ulen) + ") zero or u<c, of image " + ofImage(i) +
                                    ".");
    }
    if (P < kIMC2MinImageRecords || P > kIMC2MaxImageRecords) {
      return fail(kReadNotIMC2,
                  quoted() + " parse error: Value of num_image_metadata_sets=" + std::to_string(P) +
                      " incorrect, of image " + ofImage(i) + ". Must be [2..10].");
    }
    if (!readImageRecords(img, i, P)) return false;
    return readFrame(img, i, ulen, clen, aPending);
  }

  // A frame larger than any image may be can only end in -8 (its stream is
  // broken) or -2 (the validity rules refuse its size). Which one is found
  // by expanding the stream in small pieces, without a buffer of its size.
  bool refuseOversizedFrame(DIMAGE& img, uint32_t i, uint64_t ulen, uint64_t clen) {
    if (clen < ulen) {
      const qv::codec::StreamCheck r = qv::codec::checkStreamInFile(m_file.get(), clen, ulen);
      if (r == qv::codec::StreamCheck::kReadError) {
        return fail(kReadIoError, quoted() +
                                      " read error: Unable to read image compressed bits (size=" +
                                      std::to_string(clen) + ") of image " + ofImage(i) + ".");
      }
      if (r != qv::codec::StreamCheck::kExact) return failDecompression(i);
    }
    // Checked with the sizes it would get; its bytes are never read.
    DIMAGE header = qv::image::withStandInFrame(img, static_cast<uint32_t>(ulen));
    header.frameHeader.appendedFrameSize = static_cast<int32_t>(ulen);
    header.sourceHeader.totalLength = static_cast<uint32_t>(ulen + QV_HDR_IMAGE_SIZE);
    if (_internal_qvCheckImageValidity(&header)) {
      return fail(kReadNoMemory, std::string("Memory allocation error while loading file \"") +
                                     m_sFilePath + "\": len_uncompressed(" + std::to_string(ulen) +
                                     " bytes) at image " + ofImage(i) + ".");
    }
    return failInvalidImage(i);
  }

  // Reads the frame's bytes: a raw frame into the image, a stream into the
  // slot, to be inflated there.
  bool readFrame(DIMAGE& img, uint32_t i, uint64_t ulen, uint64_t clen, PendingFrame& aPending) {
    FILE* f = m_file.get();
    const bool bCompressed = clen < ulen;
    const std::string sUnableToRead =
        quoted() +
        " read error: Unable to read image compressed bits (size=" + std::to_string(clen) +
        ") of image " + ofImage(i) + ".";
    // Decide what the file cannot back before allocating for it: data beyond
    // its end, a frame no image may have, a stream that cannot expand so far.
    const int64_t iPosition = tell64(f);
    if (iPosition < 0 || clen > static_cast<uint64_t>(m_iFileSize - iPosition)) {
      return fail(kReadIoError, sUnableToRead);
    }
    if (bCompressed && !qv::codec::mayInflateTo(clen, ulen)) return failDecompression(i);
    if (ulen > static_cast<uint64_t>(MAX_TRANSPORT_SIZE))
      return refuseOversizedFrame(img, i, ulen, clen);

    if (m_pSink != nullptr) return readStoredBytes(img, i, ulen, clen, aPending, sUnableToRead);
    img.frameBuffer = frameBufferFor(i, ulen);
    if (img.frameBuffer == nullptr) {
      return fail(kReadNoMemory, std::string("Memory allocation error while loading file \"") +
                                     m_sFilePath + "\": len_uncompressed(" + std::to_string(ulen) +
                                     " bytes) at image " + ofImage(i) + ".");
    }
    img.frameBufferSize = static_cast<uint32_t>(ulen);
    uint8_t* pTarget = img.frameBuffer;
    if (bCompressed) {
      if (!aPending.stream.reserve(clen)) {
        return fail(kReadNoMemory, std::string("Memory allocation error while loading file \"") +
                                       m_sFilePath + "\": len_compressed(" + std::to_string(clen) +
                                       " bytes) at image " + ofImage(i) + ".");
      }
      pTarget = aPending.stream.data();
    }
    if (fread(pTarget, 1, static_cast<size_t>(clen), f) != clen) {
      return fail(kReadIoError, sUnableToRead);
    }
    notePending(img, ulen, clen, aPending);
    return true;
  }

  void notePending(DIMAGE& img, uint64_t ulen, uint64_t clen, PendingFrame& aPending) {
    aPending.image = &img;
    aPending.streamBytes = clen;
    aPending.frameBytes = ulen;
    aPending.compressed = clen < ulen;
    img.frameHeader.appendedFrameSize = static_cast<int32_t>(ulen);
    img.sourceHeader.totalLength = static_cast<uint32_t>(ulen + QV_HDR_IMAGE_SIZE);
  }

  // For the sink: the stored bytes, stream or raw frame, into the slot.
  bool readStoredBytes(DIMAGE& img, uint32_t i, uint64_t ulen, uint64_t clen,
                       PendingFrame& aPending, const std::string& sUnableToRead) {
    if (!aPending.stream.reserve(clen)) {
      return fail(kReadNoMemory, std::string("Memory allocation error while loading file \"") +
                                     m_sFilePath + "\": len_compressed(" + std::to_string(clen) +
                                     " bytes) at image " + ofImage(i) + ".");
    }
    if (fread(aPending.stream.data(), 1, static_cast<size_t>(clen), m_file.get()) != clen) {
      return fail(kReadIoError, sUnableToRead);
    }
    notePending(img, ulen, clen, aPending);
    return true;
  }

  const char* m_sFilePath;
  int* m_piInterrupt;
  double* m_pdProgress;
  MallocPtr<METADATA_KEY_DEFINITION> m_pGlobalKeys;
  MallocPtr<METADATA_KEY_DEFINITION> m_pImageKeys;
  FilePtr m_file;
  int64_t m_iFileSize = 0;
  uint64_t m_iBytesForImages = 0;  // file bytes after the global block
  uint32_t m_uiGlobalRecords = 0;
  uint32_t m_n = 0;  // num_images_in_file
  DIMAGE m_template;
  CLocalBunch m_images;
  qv::image::FrameBlock* m_pBlock;
  StoredFrameSink* m_pSink;
  uint8_t* m_pBlockBase = nullptr;
  uint64_t m_iBlockFrameBytes = 0;
  uint32_t m_iBlockImages = 0;
};

}  // namespace

bool _internal_readIMC2File(const char* asFilePath, QVBUNCHOFIMAGES* apImages, int* apiOutErrorCode,
                            std::string& sOutErrorString, int* apiInInterrupt,
                            double* apdOutPercentageFinished, qv::image::FrameBlock* apBlock) {
  CIMC2Reader reader(asFilePath, apiInInterrupt, apdOutPercentageFinished, apBlock);
  const bool bRead = reader.read(apImages);
  if (apiOutErrorCode != nullptr) *apiOutErrorCode = bRead ? 0 : reader.code();
  if (!bRead) sOutErrorString = reader.message();
  return bRead;
}

bool _internal_readIMC2Stored(const char* asFilePath, StoredFrameSink& aSink, int* apiOutErrorCode,
                              std::string& sOutErrorString, int* apiInInterrupt,
                              double* apdOutPercentageFinished) {
  CIMC2Reader reader(asFilePath, apiInInterrupt, apdOutPercentageFinished, nullptr, &aSink);
  QVBUNCHOFIMAGES unused;
  qvInitializeBunchStructure(&unused);
  const bool bRead = reader.read(&unused);
  if (apiOutErrorCode != nullptr) *apiOutErrorCode = bRead ? 0 : reader.code();
  if (!bRead) sOutErrorString = reader.message();
  return bRead;
}
