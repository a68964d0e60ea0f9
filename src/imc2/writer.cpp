// IMC2/BKC2 writer: header, global records, then per image its lengths,
// per-image records and the zlib stream (or the raw frame when zlib cannot
// shrink it).
#include <cerrno>
#include <cstdio>
#include <cstring>
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
#include "runtime/timetext.h"

using namespace qv::imc2;

namespace {

// Large enough that the metadata of a whole image block goes out in one
// system call; frames bypass it.
constexpr size_t kWriteBufferBytes = 64 * 1024;

using qv::platform::OutputFile;
using qv::runtime::interruptRequested;
using qv::runtime::reportProgress;

class CIMC2Writer : public CIMC2Outcome {
 public:
  CIMC2Writer(QVBUNCHOFIMAGES* apImages, const char* asFilePath, int* apiInInterrupt,
              double* apdOutPercentageFinished, StoredFrameSource* apSource = nullptr)
      : m_pImages(apImages),
        m_sFilePath(asFilePath),
        m_piInterrupt(apiInInterrupt),
        m_pdProgress(apdOutPercentageFinished),
        m_pSource(apSource) {}

  bool write() {
    if (!checkPreconditions() || !createFile()) return false;
    if (!writeFileHeader() || !writeGlobalBlock()) return false;
    if (interruptRequested(m_piInterrupt)) return failInterrupted();
    if (!writeImageBlocks()) return false;
    if (!m_file.commit()) {
      return fail(kWriteIoError, quoted() + " write error (closing the file).");
    }
    reportProgress(m_pdProgress, 1.0);
    return true;
  }

 private:
  // A failed write leaves no file behind.
  bool fail(int aiCode, std::string sMessage) {
    CIMC2Outcome::fail(aiCode, std::move(sMessage));
    m_file.discard();
    return false;
  }
  bool failInterrupted() { return fail(kWriteInterrupted, saveError() + "Interrupted by user."); }

  std::string quoted() const { return imc2FileQuote(m_sFilePath); }
  std::string saveError() const { return quoted() + " save error: "; }
  std::string ofImage(uint32_t i) const {
    return std::to_string(i) + " of " + std::to_string(m_pImages->numFrames);
  }
  const DIMAGE& image0() const { return m_pImages->imageArray[0]; }

  bool checkPreconditions() {
    if (m_sFilePath == nullptr) {
      return fail(kWriteBadArgument, "Parameter asFilePath must not be NULL.");
    }
    if (m_sFilePath[0] == '\0') {
      return fail(kWriteBadArgument, "Parameter asFilePath must not be empty string.");
    }
    if (m_pImages == nullptr) {
      return fail(kWriteBadArgument, saveError() + "Parameter apImages must not be NULL.");
    }
    if (m_pImages->imageArray == nullptr) {
      return fail(kWriteBadArgument,
                  saveError() + "Parameter apImages->imageArray must not be NULL.");
    }
    if (m_pImages->numFrames == 0) {
      return fail(kWriteBadArgument,
                  saveError() + "Parameter apImages->numFrames must not be NULL.");
    }
    if (m_pImages->numFrames > kIMC2MaxImagesWritten) {
      return fail(kWriteBadArgument, saveError() + "Parameter apImages->numFrames(=" +
                                         std::to_string(m_pImages->numFrames) +
                                         ") must not be >10'000.");
    }
    if (m_pSource != nullptr && !standInFrames()) {
      return fail(kWriteNoCompressMemory, saveError() + "Error allocating the image headers.");
    }
    const int r = qvIsSequence(m_pImages);
    if (r != 1) {
      return fail(kWriteNotSequence,
                  saveError() +
                      "Bunch of images passed must be an image sequence (header fields valid and "
                      "almost identical), but qvIsSequence() returned " +
                      std::to_string(r));
    }
    const int32_t iFormat = image0().frameHeader.imageFormat;
    if (iFormat != CF_IMAGE_FORMAT_GRAY && iFormat != CF_IMAGE_FORMAT_RGB) {
      return fail(kWriteNotSequence,
                  saveError() + "Bunch of images passed must be either GRAY or RGB image format.");
    }
    return true;
  }

  // With a source the bunch holds headers only: the checks and the blocks
  // work on a copy whose frames are stand-ins, never read.
  bool standInFrames() {
    const uint32_t n = m_pImages->numFrames;
    if (!m_standIns.reserve(uint64_t{n} * sizeof(DIMAGE))) return false;
    DIMAGE* pCopies = reinterpret_cast<DIMAGE*>(m_standIns.data());
    for (uint32_t i = 0; i < n; ++i) {
      const DIMAGE& img = m_pImages->imageArray[i];
      const int32_t iBytes = img.frameHeader.appendedFrameSize;
      pCopies[i] = qv::image::withStandInFrame(img, iBytes > 0 ? static_cast<uint32_t>(iBytes) : 0);
    }
    m_headers.numFrames = n;
    m_headers.imageArray = pCopies;
    m_pImages = &m_headers;
    return true;
  }

  // Exclusive creation: an existing file, readable or not, is never replaced.
  bool createFile() {
    if (m_file.create(m_sFilePath, OutputFile::Mode::kExclusive, kWriteBufferBytes)) return true;
    if (errno == EEXIST) return fail(kWriteFileExists, saveError() + "File already exists.");
    return fail(kWriteCreateFailed, saveError() + "File could not be opened for writing.");
  }

  bool writeBytes(const void* apData, size_t aiSize) { return m_file.write(apData, aiSize); }
  template <typename T>
  bool writeValue(T aValue) {
    return writeBytes(&aValue, sizeof aValue);
  }

  bool writeFileHeader() {
    reportProgress(m_pdProgress, 0.01);
    if (!writeValue<uint32_t>(0)) return fail(kWriteIoError, quoted() + " write error (magic1).");
    if (!writeValue<uint32_t>(1)) return fail(kWriteIoError, quoted() + " write error (magic2).");
    reportProgress(m_pdProgress, 0.02);

    const FRAMEHEADER& fh = image0().frameHeader;
    const SOURCEHEADER& sh = image0().sourceHeader;
    // The port name need not be terminated within its 64 bytes.
    memcpy(m_sCameraPortName, sh.cameraPortName, sizeof sh.cameraPortName);
    m_sCameraPortName[sizeof sh.cameraPortName] = '\0';
    m_bWritePortName = m_sCameraPortName[0] != '\0';
    m_bWritePortId = sh.cameraPortId != 0;
    const uint32_t G = 20 + (m_bWritePortId ? 1 : 0) + (m_bWritePortName ? 1 : 0);

    if (!writeValue<uint32_t>(G)) {
      return fail(kWriteIoError,
                  quoted() + " write error (number_of_global_metadata_sets_in_file).");
    }
    if (!writeValue<uint8_t>(13)) {
      return fail(kWriteIoError, quoted() +
                                     " write error (carriage return after "
                                     "number_of_global_metadata_sets_in_file).");
    }
    if (!writeValue<uint8_t>(10)) {
      return fail(kWriteIoError, quoted() +
                                     " write error (line feed after "
                                     "number_of_global_metadata_sets_in_file).");
    }
    m_uiWidth = static_cast<uint32_t>(fh.aoiWidth >= 1 ? fh.aoiWidth : fh.sourceWidth);
    m_uiHeight = static_cast<uint32_t>(fh.aoiHeight >= 1 ? fh.aoiHeight : fh.sourceHeight);
    reportProgress(m_pdProgress, 0.03);
    return true;
  }

  bool globalRecordFailed(int aiCode, const char* asKey) {
    return fail(aiCode, saveError() + "Error composing or writing global metadata \"" + asKey +
                            "\" to file.");
  }
  bool writeGlobalInt(uint32_t aiRow, int32_t aiValue) {
    const char* sKey = kGlobalMetadataKeys[aiRow].key;
    const int r = _internal_write_metadata_set_int32(m_file.get(), sKey, aiValue);
    return r == kMetaOk || globalRecordFailed(r, sKey);
  }
  bool writeGlobalUnsigned(uint32_t aiRow, uint32_t auiValue) {
    const char* sKey = kGlobalMetadataKeys[aiRow].key;
    const int r = _internal_write_metadata_set_uint32(m_file.get(), sKey, auiValue);
    return r == kMetaOk || globalRecordFailed(r, sKey);
  }
  bool writeGlobalFloat(uint32_t aiRow, float afValue) {
    const char* sKey = kGlobalMetadataKeys[aiRow].key;
    const int r = _internal_write_metadata_set_float(m_file.get(), sKey, afValue);
    return r == kMetaOk || globalRecordFailed(r, sKey);
  }
  bool writeGlobalText(uint32_t aiRow, const char* asValue) {
    const char* sKey = kGlobalMetadataKeys[aiRow].key;
    const int r = _internal_write_metadata_set_to_file(m_file.get(), sKey, asValue);
    return r == kMetaOk || globalRecordFailed(r, sKey);
  }

  bool writeGlobalBlock() {
    const FRAMEHEADER& fh = image0().frameHeader;
    const SOURCEHEADER& sh = image0().sourceHeader;
    if (!writeGlobalUnsigned(kGNumberOfImages, m_pImages->numFrames) ||
        !writeGlobalUnsigned(kGWidth, m_uiWidth) || !writeGlobalUnsigned(kGHeight, m_uiHeight) ||
        !writeGlobalFloat(kGScaleX, fh.xScale)) {
      return false;
    }
    reportProgress(m_pdProgress, 0.04);
    if (!writeGlobalFloat(kGScaleY, fh.yScale) || !writeGlobalInt(kGSourceWidth, fh.sourceWidth) ||
        !writeGlobalInt(kGSourceHeight, fh.sourceHeight)) {
      return false;
    }
    {
      const int r = _internal_write_metadata_set_int32(
          m_file.get(), kGlobalMetadataKeys[kGAoiWidth].key, fh.aoiWidth);
      if (r != kMetaOk) {
        return fail(r, saveError() + "Error writing global metadata \"aoi_width_px\" to file.");
      }
    }
    reportProgress(m_pdProgress, 0.05);
    if (!writeGlobalInt(kGAoiHeight, fh.aoiHeight) || !writeGlobalInt(kGXStart, fh.xStart) ||
        !writeGlobalInt(kGYStart, fh.yStart) ||
        !writeGlobalInt(kGBytesPerPixel, fh.bytesPerPixel)) {
      return false;
    }
    reportProgress(m_pdProgress, 0.06);
    if (!writeGlobalInt(kGEffectiveBits, fh.effectiveBitsPerPixel) ||
        !writeGlobalInt(kGHorizontalBinning, fh.horizontalBinning) ||
        !writeGlobalInt(kGVerticalBinning, fh.verticalBinning)) {
      return false;
    }
    const CDIMAGE cImage0(image0());
    char sFormat[250];
    size_t iSize = sizeof sFormat;
    if (!writeGlobalText(kGSourceFormat,
                         formatText(cImage0.getSourceFormatAsString(sFormat, &iSize)))) {
      return false;
    }
    reportProgress(m_pdProgress, 0.07);
    iSize = sizeof sFormat;
    if (!writeGlobalText(kGImageFormat,
                         formatText(cImage0.getImageFormatAsString(sFormat, &iSize))) ||
        !writeGlobalFloat(kGImageRotation, fh.imageRotation) ||
        !writeGlobalFloat(kGScaleXOffset, fh.scale_x_offset) ||
        !writeGlobalFloat(kGScaleYOffset, fh.scale_y_offset)) {
      return false;
    }
    reportProgress(m_pdProgress, 0.08);
    if (m_bWritePortName && !writeGlobalText(kGCameraPortName, m_sCameraPortName)) return false;
    reportProgress(m_pdProgress, 0.09);
    if (m_bWritePortId &&
        !writeGlobalUnsigned(kGCameraPortId, static_cast<uint32_t>(sh.cameraPortId))) {
      return false;
    }
    return true;
  }
  // Every short name fits the 250-byte buffer; a null result cannot occur,
  // but must not reach the record writer as a pointer.
  static const char* formatText(const char* asRendered) {
    return asRendered != nullptr ? asRendered : "";
  }

  // What compressing one frame gave; a slot keeps it until the block is out.
  struct CompressedFrame {
    enum class Outcome { kStream, kRaw, kNoMemory, kFailed };
    qv::codec::SlotBuffer buffer;
    Outcome outcome = Outcome::kFailed;
    uint64_t streamBytes = 0;
    const uint8_t* stored = nullptr;  // the source's bytes, in place of the buffer's
  };

  // Frames are compressed on the codec's threads; the blocks go out on this
  // thread in image order, each followed by progress and the interrupt test.
  bool writeImageBlocks() {
    const uint32_t n = m_pImages->numFrames;
    // Stored frames need no compressing: there is no work to share.
    const unsigned threads = m_pSource != nullptr ? 1 : qv::codec::codecThreads(n);
    std::vector<CompressedFrame> slots(qv::codec::frameSlots(threads));
    qv::codec::FrameSteps steps;
    steps.prepare = [&](uint32_t frame, unsigned slot) {
      return m_pSource == nullptr || takeStoredFrame(frame, slots[slot]);
    };
    steps.work = [&](uint32_t frame, unsigned slot) {
      if (m_pSource == nullptr) compressFrame(m_pImages->imageArray[frame], slots[slot]);
      return true;
    };
    steps.finish = [&](uint32_t frame, unsigned slot, bool) {
      const uint32_t i = frame + 1;
      if (!writeImageBlock(i, slots[slot])) return false;
      reportProgress(m_pdProgress, 0.09 + (static_cast<double>(i) / n) * 0.91);
      return !interruptRequested(m_piInterrupt) || failInterrupted();
    };
    return qv::codec::runInFrameOrder(n, threads, steps);
  }

  // The source's bytes of frame i (from 0): a stream shorter than the frame
  // or the frame itself, nothing else.
  bool takeStoredFrame(uint32_t aiFrame, CompressedFrame& aOut) {
    const uint32_t i = aiFrame + 1;
    const int32_t iFrameBytes = m_pImages->imageArray[aiFrame].frameHeader.appendedFrameSize;
    const uint64_t iExpected = iFrameBytes > 0 ? static_cast<uint64_t>(iFrameBytes) : 0;
    StoredFrame stored;
    std::string sWhy;
    if (!m_pSource->frame(aiFrame, iExpected, aOut.buffer, stored, sWhy)) {
      return fail(kStoppedByPeer, sWhy);
    }
    const bool bFits = stored.bytes != nullptr &&
                       (stored.compressed ? stored.length > 0 && stored.length < iExpected
                                          : stored.length == iExpected);
    if (!bFits) {
      return fail(kWriteCompressFailed,
                  saveError() + "Stored bytes of image #" + ofImage(i) + " do not fit its size.");
    }
    aOut.outcome =
        stored.compressed ? CompressedFrame::Outcome::kStream : CompressedFrame::Outcome::kRaw;
    aOut.stored = stored.bytes;
    aOut.streamBytes = stored.length;
    return true;
  }

  // The zlib stream of one frame, or the decision to store the frame itself
  // when the stream would not be shorter. Runs on any thread: it touches
  // nothing but the frame and its slot.
  static void compressFrame(const DIMAGE& aImg, CompressedFrame& aOut) {
    using Outcome = CompressedFrame::Outcome;
    const int64_t iFrameBytes = aImg.frameHeader.appendedFrameSize;
    // A frame without bytes would give a block that no reader accepts.
    if (iFrameBytes <= 0 || aImg.frameBuffer == nullptr) {
      aOut.outcome = Outcome::kFailed;
      return;
    }
    const uint64_t iSource = static_cast<uint64_t>(iFrameBytes);
    // Only a stream shorter than the frame is kept, so the buffer holds one
    // byte less and the codec may stop as soon as the stream reaches it.
    const uint64_t iCapacity = iSource - 1;
    if (!aOut.buffer.reserve(iCapacity)) {
      aOut.outcome = Outcome::kNoMemory;
      return;
    }
    switch (qv::codec::compressFrame(aImg.frameBuffer, iSource, aOut.buffer.data(), iCapacity,
                                     aOut.streamBytes)) {
      case qv::codec::Compressed::kDone:
        aOut.outcome = Outcome::kStream;
        break;
      case qv::codec::Compressed::kDidNotFit:
        aOut.outcome = Outcome::kRaw;
        break;
      default:
        aOut.outcome = Outcome::kFailed;
    }
  }

  // The bytes to write for a compressed frame: its stream, or the frame
  // itself straight from the caller's buffer.
  bool frameData(const DIMAGE& aImg, uint32_t i, const CompressedFrame& aFrame,
                 const uint8_t*& apData, uint64_t& aiLength) {
    switch (aFrame.outcome) {
      case CompressedFrame::Outcome::kStream:
        apData = aFrame.stored != nullptr ? aFrame.stored : aFrame.buffer.data();
        aiLength = aFrame.streamBytes;
        return true;
      case CompressedFrame::Outcome::kRaw:
        apData = aFrame.stored != nullptr ? aFrame.stored : aImg.frameBuffer;
        aiLength = static_cast<uint64_t>(aImg.frameHeader.appendedFrameSize);
        return true;
      case CompressedFrame::Outcome::kNoMemory:
        return fail(kWriteNoCompressMemory,
                    saveError() + "Error allocating temporary memory for compressed image #" +
                        ofImage(i) + ".");
      default:
        return fail(kWriteCompressFailed,
                    saveError() + "Error compressing image #" + ofImage(i) + ".");
    }
  }

  bool writeImageBlock(uint32_t i, const CompressedFrame& aFrame) {
    const DIMAGE& img = m_pImages->imageArray[i - 1];
    const SOURCEHEADER& sh = img.sourceHeader;
    const FRAMEHEADER& fh = img.frameHeader;
    const uint8_t* pData = nullptr;
    uint64_t iDataLength = 0;
    if (!frameData(img, i, aFrame, pData, iDataLength)) return false;

    const uint64_t iFrameBytes = static_cast<uint64_t>(fh.appendedFrameSize);
    if (!writeValue<uint64_t>(iFrameBytes)) {
      return fail(kWriteIoError,
                  quoted() + " write error (len_uncompressed image " + ofImage(i) + ").");
    }
    if (!writeValue<uint64_t>(iDataLength)) {
      return fail(kWriteIoError,
                  quoted() + " write error (len_compressed image " + ofImage(i) + ").");
    }
    // The time stamp is an unsigned count of seconds: every value after the
    // epoch is a time stamp, including those from 2038 on.
    const bool bWriteTime = sh.timestampSeconds != 0;
    const uint32_t P =
        5 - (fh.frameNumber == 0 ? 1 : 0) - (fh.eventNumber == 0 ? 1 : 0) - (bWriteTime ? 0 : 1);
    if (!writeValue<uint32_t>(P)) {
      return fail(kWriteIoError,
                  quoted() + " write error (number_of_per_image_metadata_sets_in_file for image " +
                      ofImage(i) + ").");
    }
    if (!writeValue<uint8_t>(13)) {
      return fail(kWriteIoError, quoted() +
                                     " write error (carriage return after "
                                     "number_of_per_image_metadata_sets_in_file for image " +
                                     ofImage(i) + ").");
    }
    if (!writeValue<uint8_t>(10)) {
      return fail(kWriteIoError, quoted() +
                                     " write error (line feed after "
                                     "number_of_per_image_metadata_sets_in_file for image " +
                                     ofImage(i) + ").");
    }

    const std::string sImageStart = "image " + ofImage(i);
    int r = _internal_write_metadata_set_to_file(m_file.get(), kImageMetadataKeys[kIImageStart].key,
                                                 sImageStart.c_str());
    if (r != kMetaOk) {
      return fail(r, saveError() + "Error writing per-image metadata image_start for image " +
                         ofImage(i) + ").");
    }

    if (bWriteTime) {
      const int32_t iMicroseconds = static_cast<int32_t>(sh.timestampMicroseconds);
      char sTime[40];
      if (platformTimeToUTCString(static_cast<int64_t>(sh.timestampSeconds),
                                  iMicroseconds > 0 ? static_cast<uint32_t>(iMicroseconds) : 0u,
                                  true, false, true, sTime, sizeof sTime) == nullptr) {
        return fail(
            kWriteComposeError,
            saveError() + "Error preparing timestamp string for timestamp=" +
                std::to_string(sh.timestampSeconds) + "." + std::to_string(iMicroseconds) +
                " sec.usec_offset before writing per-image metadata timestamp_utc for image " +
                ofImage(i) + ").");
      }
      r = _internal_write_metadata_set_to_file(m_file.get(), kImageMetadataKeys[kITimestampUtc].key,
                                               sTime);
      if (r != kMetaOk) {
        return fail(r, saveError() + "Error writing per-image metadata timestamp_utc for image " +
                           ofImage(i) + ").");
      }
    }

    char sFlags[250];
    size_t iFlagsSize = sizeof sFlags;
    CDIMAGE::getFlagsAsString(fh.imageFlags, sFlags, &iFlagsSize);
    r = _internal_write_metadata_set_to_file(m_file.get(), kImageMetadataKeys[kIImageFlags].key,
                                             sFlags);
    if (r != kMetaOk) {
      return fail(r, saveError() +
                         "Error composing or writing per-image metadata image_flags for image " +
                         ofImage(i) + ").");
    }
    if (fh.frameNumber != 0) {
      r = _internal_write_metadata_set_uint32(m_file.get(), kImageMetadataKeys[kIFrameNumber].key,
                                              fh.frameNumber);
      if (r != kMetaOk) {
        return fail(r, saveError() + "Error writing per-image metadata framenumber for image " +
                           ofImage(i) + ").");
      }
    }
    if (fh.eventNumber != 0) {
      r = _internal_write_metadata_set_uint32(m_file.get(), kImageMetadataKeys[kIEventNumber].key,
                                              fh.eventNumber);
      if (r != kMetaOk) {
        return fail(r, saveError() + "Error writing per-image metadata eventnumber for image " +
                           ofImage(i) + ").");
      }
    }
    if (!writeBytes(pData, static_cast<size_t>(iDataLength))) {
      return fail(kWriteIoError,
                  quoted() + " save error (image data (pixels) for image " + ofImage(i) + ").");
    }
    return true;
  }

  QVBUNCHOFIMAGES* m_pImages;
  const char* m_sFilePath;
  int* m_piInterrupt;
  double* m_pdProgress;
  StoredFrameSource* m_pSource;
  qv::codec::SlotBuffer m_standIns;  // the headers' copies with a source
  QVBUNCHOFIMAGES m_headers{};
  OutputFile m_file;
  char m_sCameraPortName[65] = {};
  bool m_bWritePortName = false;
  bool m_bWritePortId = false;
  uint32_t m_uiWidth = 0;
  uint32_t m_uiHeight = 0;
};

}  // namespace

bool _internal_writeIMC2File(QVBUNCHOFIMAGES* apImages, const char* asFilePath,
                             int* apiOutErrorCode, std::string& sOutErrorString,
                             int* apiInInterrupt, double* apdOutPercentageFinished) {
  CIMC2Writer writer(apImages, asFilePath, apiInInterrupt, apdOutPercentageFinished);
  if (writer.write()) return true;
  if (apiOutErrorCode != nullptr) *apiOutErrorCode = writer.code();
  sOutErrorString = writer.message();
  return false;
}

bool _internal_writeIMC2Stored(QVBUNCHOFIMAGES* apHeaders, const char* asFilePath,
                               StoredFrameSource& aSource, int* apiOutErrorCode,
                               std::string& sOutErrorString, int* apiInInterrupt,
                               double* apdOutPercentageFinished) {
  CIMC2Writer writer(apHeaders, asFilePath, apiInInterrupt, apdOutPercentageFinished, &aSource);
  if (writer.write()) return true;
  if (apiOutErrorCode != nullptr) *apiOutErrorCode = writer.code();
  sOutErrorString = writer.message();
  return false;
}
