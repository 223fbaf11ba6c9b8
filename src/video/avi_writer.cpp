#include "video/avi_writer.h"

#include "video/avi_layout.h"
#include "video/riff.h"

#include <algorithm>
#include <array>
#include <cassert>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <memory>
#include <optional>
#include <vector>

namespace video {

namespace {

using riff::putU16;
using riff::putU32;
using riff::putU64;

using avi_layout::kOdmlPlaceholderBytes;
constexpr uint32_t kAvihFlags = 0x10 | 0x100; // has index, interleaved

// One sample of the current part, as its OpenDML standard index entry holds it.
struct WrittenSample {
    uint32_t offset = 0;    // of the sample data from the part's index base, its 'movi' type
    uint32_t sizeField = 0; // the size, with riff::kDeltaFrameBit set unless it is a key frame
    bool audio = false;     // a chunk of the sound stream
};

// Index entries are made and written a slice of this many bytes at a time, so an index of any
// length needs little memory.
constexpr size_t kIndexSliceBytes = 64 * 1024;

// One RIFF part: where its headers sit and what it holds.
struct Part {
    int64_t riffPos = 0;                     // position of 'RIFF'
    int64_t moviListPos = 0;                 // position of 'LIST' of its movi list
    std::array<int64_t, 2> indexPos{-1, -1}; // position of its 'ix00' ('ix01') chunk, once written
    std::array<uint32_t, 2> indexBytes{};    // size of that chunk including its header
    uint32_t frames = 0;
    int64_t audioUnits = 0; // the sound's units in the part
    int64_t audioChunks = 0;
};

constexpr uint32_t kAudioChunkId = core::fourcc("01wb");

int16_t narrow16(int32_t value)
{
    return static_cast<int16_t>(
        std::clamp<int32_t>(value, std::numeric_limits<int16_t>::min(), std::numeric_limits<int16_t>::max()));
}

uint32_t clampU32(int64_t value)
{
    return static_cast<uint32_t>(std::clamp<int64_t>(value, 0, 0xFFFFFFFFLL));
}

} // namespace

// The writer's state. Samples are appended in file order; header fields known only at the end
// (sizes, totals, OpenDML indexes) are reserved first and patched by finish().
struct AviWriter::Impl {
    enum class State { NoStream, Streaming, Finished, Failed };

    std::unique_ptr<FileIo> file;
    AviWriterOptions options;
    State state = State::NoStream;
    std::string errorText;

    core::AviStreamInfo info;
    std::vector<uint8_t> format;
    bool headerReserved = false;
    uint32_t chunkId = riff::dataChunkId(0, "dc");
    uint32_t chunkIdNow = chunkId; // the id of the chunk being appended

    // Layout of the reserved header, fixed when the first sample is written.
    int64_t avihPos = 0; // position of avih data
    int64_t strhPos = 0; // position of strh data
    int64_t indxPos = 0; // position of the super index placeholder chunk header
    int64_t odmlPos = 0; // position of the odml placeholder chunk header

    // The sound, when the file has one: its chunks go in before the video frame they play with.
    std::optional<AudioTrack> audio;
    AudioChunkReader* audioReader = nullptr;
    std::optional<AudioSchedule> audioSchedule;
    int32_t audioWritten = 0;
    int64_t audioBytes = 0;
    uint32_t largestAudioChunk = 0;
    std::vector<uint8_t> audioBuffer;
    std::string readErrorText; // the sound reader's text after a failed read
    int64_t audioStrhPos = 0;
    int64_t audioIndxPos = 0;

    std::vector<Part> parts;
    std::vector<WrittenSample> partSamples; // samples of the current part
    int32_t totalFrames = 0;
    uint32_t largestSample = 0;
    int64_t sampleBytes = 0;

    // Sequential output is gathered before it reaches the file in one vectored write: the
    // writer's own bytes (chunk headers, pads, headers, copied samples) in `own`, lent bytes
    // (samples from writeSamples, index slices) where they lie. Everything pending starts at
    // bufferPos and ends at writePos; the own bytes are part of it, so they never outgrow `own`.
    std::unique_ptr<uint8_t[]> own; // bufferLimit() bytes once something is gathered
    size_t ownUsed = 0;
    std::vector<std::span<const uint8_t>> pieces; // the pending bytes, in file order
    bool lastPieceOwn = false;                    // the last piece ends at own + ownUsed and may grow
    size_t pendingBytes = 0;
    int64_t bufferPos = 0;
    int64_t writePos = 0;
    std::unique_ptr<uint8_t[]> indexSlice; // kIndexSliceBytes once an index is written

    AviStatus fail()
    {
        errorText = !readErrorText.empty() ? readErrorText
                    : file                 ? file->errorText()
                                           : std::string("the file is closed");
        if (errorText.empty())
            errorText = "write failed";
        state = State::Failed;
        return AviStatus::WriteFailed;
    }

    size_t bufferLimit() const { return static_cast<size_t>(std::max(options.writeBufferBytes, 0)); }

    bool flush()
    {
        if (pieces.empty())
            return true;
        const bool ok = file->writePiecesAt(bufferPos, pieces);
        pieces.clear();
        ownUsed = 0;
        lastPieceOwn = false;
        pendingBytes = 0;
        bufferPos = writePos;
        return ok;
    }

    // Appends bytes to the output. Lent bytes are only referenced: the caller keeps them valid
    // until the next flush.
    bool append(std::span<const uint8_t> bytes, bool lend = false)
    {
        if (bytes.empty())
            return true;
        if (pieces.empty())
            bufferPos = writePos;
        const size_t limit = bufferLimit();
        if (pendingBytes + bytes.size() > limit) {
            if (!flush())
                return false;
            if (bytes.size() >= limit) {
                if (!file->writeAt(writePos, bytes))
                    return false;
                writePos += static_cast<int64_t>(bytes.size());
                bufferPos = writePos;
                return true;
            }
        }
        if (lend) {
            pieces.push_back(bytes);
            lastPieceOwn = false;
        } else {
            std::copy(bytes.begin(), bytes.end(), ownSpace(bytes.size()));
        }
        pendingBytes += bytes.size();
        writePos += static_cast<int64_t>(bytes.size());
        return true;
    }

    // Takes count bytes at the end of `own` into the output; the caller fills them and counts
    // them as pending. Only for bytes that fit in what may be gathered.
    uint8_t* ownSpace(size_t count)
    {
        if (!own)
            own = std::make_unique_for_overwrite<uint8_t[]>(bufferLimit());
        uint8_t* at = own.get() + ownUsed;
        ownUsed += count;
        if (lastPieceOwn)
            pieces.back() = {pieces.back().data(), pieces.back().size() + count};
        else
            pieces.emplace_back(at, count);
        lastPieceOwn = true;
        return at;
    }

    // Appends a sample's chunk: header, data, and a pad byte after odd-sized data. When it fits
    // in what may be gathered, the header and pad are written into `own` and the data is lent.
    bool appendChunk(std::span<const uint8_t> data, bool lend)
    {
        const auto size = static_cast<uint32_t>(data.size());
        const auto chunkBytes = static_cast<size_t>(riff::chunkSpan(size));
        if (!lend || pendingBytes + chunkBytes > bufferLimit()) {
            const uint8_t pad = 0;
            return appendChunkHeader(chunkIdNow, size) && append(data, lend) &&
                   (size % 2 == 0 || append(std::span(&pad, 1)));
        }
        if (pieces.empty())
            bufferPos = writePos;
        const std::span<uint8_t> head(ownSpace(8), 8);
        riff::setU32(head, 0, chunkIdNow);
        riff::setU32(head, 4, size);
        if (size > 0) {
            pieces.push_back(data);
            lastPieceOwn = false;
        }
        if (size % 2 != 0)
            *ownSpace(1) = 0;
        pendingBytes += chunkBytes;
        writePos += static_cast<int64_t>(chunkBytes);
        return true;
    }

    // Appends one index entry of entryBytes per sample of the current part, put(sample, entry)
    // filling each, a slice at a time.
    // Only the samples of one stream when stream is 0 (video) or 1 (sound); all when -1.
    template <typename Put> bool appendIndexEntries(size_t entryBytes, int stream, Put put)
    {
        if (!indexSlice)
            indexSlice = std::make_unique_for_overwrite<uint8_t[]>(kIndexSliceBytes);
        const size_t perSlice = kIndexSliceBytes / entryBytes;
        size_t count = 0;
        const auto sendSlice = [&] {
            // The slice is lent, so it reaches the file before it is filled again.
            const bool ok =
                append(std::span<const uint8_t>(indexSlice.get(), count * entryBytes), true) && flush();
            count = 0;
            return ok;
        };
        for (const WrittenSample& sample : partSamples) {
            if (stream >= 0 && sample.audio != (stream == 1))
                continue;
            put(sample, std::span<uint8_t>(indexSlice.get() + count * entryBytes, entryBytes));
            if (++count == perSlice && !sendSlice())
                return false;
        }
        return count == 0 || sendSlice();
    }

    bool appendChunkHeader(uint32_t id, uint32_t size)
    {
        std::array<uint8_t, 8> head{};
        for (int i = 0; i < 4; ++i) {
            head[static_cast<size_t>(i)] = static_cast<uint8_t>(id >> (8 * i));
            head[static_cast<size_t>(4 + i)] = static_cast<uint8_t>(size >> (8 * i));
        }
        return append(head);
    }

    // Writes bytes at an earlier position, after everything buffered reached the file.
    bool patch(int64_t pos, std::span<const uint8_t> bytes) { return flush() && file->writeAt(pos, bytes); }

    bool patchU32(int64_t pos, uint32_t value)
    {
        std::vector<uint8_t> bytes;
        putU32(bytes, value);
        return patch(pos, bytes);
    }

    int64_t superIndexBytes() const { return avi_layout::superIndexBytes(options); }

    std::vector<uint8_t> buildAvih() const
    {
        const std::span<const uint8_t> f(format);
        const int32_t width = f.size() >= 8 ? riff::getI32(f, 4) : 0;
        const int32_t height = f.size() >= 12 ? riff::getI32(f, 8) : 0;
        const int64_t absHeight = std::abs(static_cast<int64_t>(height));
        uint32_t microSecPerFrame = 0;
        uint32_t maxBytesPerSec = 0;
        if (info.dwRate != 0 && info.dwScale != 0) {
            microSecPerFrame = clampU32(std::llround(1e6 * info.dwScale / info.dwRate));
            const double seconds = static_cast<double>(totalFrames) * info.dwScale / info.dwRate;
            if (seconds > 0)
                maxBytesPerSec = clampU32(std::llround(static_cast<double>(sampleBytes) / seconds));
        }
        std::vector<uint8_t> avih;
        putU32(avih, microSecPerFrame);
        putU32(avih, maxBytesPerSec);
        putU32(avih, 0); // padding granularity
        putU32(avih, kAvihFlags);
        putU32(avih, parts.empty() ? 0 : parts.front().frames);
        putU32(avih, 0); // initial frames
        putU32(avih, audio ? 2 : 1); // streams
        putU32(avih, std::max(largestSample, largestAudioChunk));
        putU32(avih, static_cast<uint32_t>(width));
        putU32(avih, clampU32(absHeight));
        for (int i = 0; i < 4; ++i)
            putU32(avih, 0);
        return avih;
    }

    std::vector<uint8_t> buildStrh() const
    {
        std::vector<uint8_t> strh;
        putU32(strh, info.fccType);
        putU32(strh, info.fccHandler);
        putU32(strh, info.dwFlags);
        putU16(strh, info.wPriority);
        putU16(strh, info.wLanguage);
        putU32(strh, info.dwInitialFrames);
        putU32(strh, info.dwScale);
        putU32(strh, info.dwRate);
        putU32(strh, info.dwStart);
        putU32(strh, static_cast<uint32_t>(totalFrames));
        putU32(strh, largestSample);
        putU32(strh, info.dwQuality);
        putU32(strh, info.dwSampleSize);
        for (int32_t edge : info.rcFrame)
            putU16(strh, static_cast<uint16_t>(narrow16(edge)));
        return strh;
    }

    std::vector<uint8_t> buildAudioStrh() const
    {
        std::vector<uint8_t> strh;
        putU32(strh, riff::kAuds);
        putU32(strh, 0); // handler: the format tag names the codec
        putU32(strh, 0); // flags
        putU16(strh, 0); // priority
        putU16(strh, 0); // language
        putU32(strh, 0); // initial frames
        putU32(strh, audio->scale);
        putU32(strh, audio->rate);
        putU32(strh, 0); // start
        const int64_t units = audio->sampleSize > 0 ? audioBytes / audio->sampleSize : audioWritten;
        putU32(strh, clampU32(units));
        putU32(strh, largestAudioChunk);
        putU32(strh, 0xFFFFFFFF); // quality: the codec's default
        putU32(strh, audio->sampleSize);
        for (int i = 0; i < 4; ++i)
            putU16(strh, 0);
        return strh;
    }

    size_t nameBytes() const { return avi_layout::streamNameBytes(info); }

    // Writes the header with placeholders for the values known only at the end, and opens the
    // first part's movi list on a 2048-byte boundary.
    bool reserveHeader()
    {
        std::vector<uint8_t> h;
        putU32(h, riff::kRiff);
        putU32(h, 0); // patched at the end
        putU32(h, riff::kAvi);
        putU32(h, riff::kList);
        const size_t hdrlSizeAt = h.size();
        putU32(h, 0);
        putU32(h, riff::kHdrl);
        putU32(h, riff::kAvih);
        putU32(h, 56);
        avihPos = static_cast<int64_t>(h.size());
        const std::vector<uint8_t> avih = buildAvih();
        h.insert(h.end(), avih.begin(), avih.end());

        putU32(h, riff::kList);
        const size_t strlSizeAt = h.size();
        putU32(h, 0);
        putU32(h, riff::kStrl);
        putU32(h, riff::kStrh);
        putU32(h, 56);
        strhPos = static_cast<int64_t>(h.size());
        const std::vector<uint8_t> strh = buildStrh();
        h.insert(h.end(), strh.begin(), strh.end());
        putU32(h, riff::kStrf);
        putU32(h, static_cast<uint32_t>(format.size()));
        h.insert(h.end(), format.begin(), format.end());
        if (format.size() % 2 != 0)
            h.push_back(0);
        if (const size_t name = nameBytes(); name > 0) {
            putU32(h, riff::kStrn);
            putU32(h, static_cast<uint32_t>(name + 1));
            h.insert(h.end(), info.szName.begin(), info.szName.begin() + static_cast<std::ptrdiff_t>(name));
            h.push_back(0);
            if ((name + 1) % 2 != 0)
                h.push_back(0);
        }
        // Room for the OpenDML super index; stays JUNK while the file has one part.
        indxPos = static_cast<int64_t>(h.size());
        putU32(h, riff::kJunk);
        putU32(h, static_cast<uint32_t>(superIndexBytes()));
        h.resize(h.size() + static_cast<size_t>(superIndexBytes()), 0);
        riff::setU32(h, strlSizeAt, static_cast<uint32_t>(h.size() - strlSizeAt - 4));
        if (audio)
            appendAudioStrl(h);

        // Room for LIST 'odml'; stays JUNK while the file has one part.
        odmlPos = static_cast<int64_t>(h.size());
        putU32(h, riff::kJunk);
        putU32(h, kOdmlPlaceholderBytes);
        h.resize(h.size() + kOdmlPlaceholderBytes, 0);
        riff::setU32(h, hdrlSizeAt, static_cast<uint32_t>(h.size() - hdrlSizeAt - 4));

        // JUNK up to the alignment, so the first sample chunk starts on the boundary.
        const auto junkPos = static_cast<int64_t>(h.size());
        const int64_t moviListPos =
            avi_layout::firstChunkPos(info, format.size(), options,
                                      audio ? std::optional<size_t>(audio->format.size()) : std::nullopt) -
            12;
        assert(moviListPos >= junkPos + 8);
        putU32(h, riff::kJunk);
        putU32(h, static_cast<uint32_t>(moviListPos - junkPos - 8));
        h.resize(static_cast<size_t>(moviListPos), 0);
        putU32(h, riff::kList);
        putU32(h, 0);
        putU32(h, riff::kMovi);
        parts.push_back({0, moviListPos});
        headerReserved = true;
        return append(h);
    }

    // Appends the sound's LIST 'strl' to the header h: strh, strf and room for its super index.
    void appendAudioStrl(std::vector<uint8_t>& h)
    {
        putU32(h, riff::kList);
        const size_t sizeAt = h.size();
        putU32(h, 0);
        putU32(h, riff::kStrl);
        putU32(h, riff::kStrh);
        putU32(h, 56);
        audioStrhPos = static_cast<int64_t>(h.size());
        const std::vector<uint8_t> strh = buildAudioStrh();
        h.insert(h.end(), strh.begin(), strh.end());
        putU32(h, riff::kStrf);
        putU32(h, static_cast<uint32_t>(audio->format.size()));
        h.insert(h.end(), audio->format.begin(), audio->format.end());
        if (audio->format.size() % 2 != 0)
            h.push_back(0);
        audioIndxPos = static_cast<int64_t>(h.size());
        putU32(h, riff::kJunk);
        putU32(h, static_cast<uint32_t>(superIndexBytes()));
        h.resize(h.size() + static_cast<size_t>(superIndexBytes()), 0);
        riff::setU32(h, sizeAt, static_cast<uint32_t>(h.size() - sizeAt - 4));
    }

    // Writes the standard index of one stream (0 video, 1 sound) of the current part at the end of
    // its movi list.
    bool writePartIndex(int stream)
    {
        Part& part = parts.back();
        const int64_t base = part.moviListPos + 8;
        const auto entries = static_cast<uint32_t>(stream == 1 ? part.audioChunks : part.frames);
        std::vector<uint8_t> ix;
        putU32(ix, core::fourcc(stream == 1 ? "ix01" : "ix00"));
        putU32(ix, 24 + 8 * entries);
        putU16(ix, 2);
        ix.push_back(0);
        ix.push_back(riff::kIndexOfChunks);
        putU32(ix, entries);
        putU32(ix, stream == 1 ? kAudioChunkId : chunkId);
        putU64(ix, static_cast<uint64_t>(base));
        putU32(ix, 0);
        part.indexPos[static_cast<size_t>(stream)] = writePos;
        part.indexBytes[static_cast<size_t>(stream)] = static_cast<uint32_t>(ix.size() + 8 * entries);
        return append(ix) &&
               appendIndexEntries(8, stream, [](const WrittenSample& sample, std::span<uint8_t> entry) {
                   riff::setU32(entry, 0, sample.offset);
                   riff::setU32(entry, 4, sample.sizeField);
               });
    }

    // Writes idx1 of the first part; its offsets count from the 'movi' type, as the standard
    // index's do, but name the chunk header.
    bool writeIdx1()
    {
        std::vector<uint8_t> head;
        putU32(head, riff::kIdx1);
        putU32(head, static_cast<uint32_t>(16 * partSamples.size()));
        return append(head) &&
               appendIndexEntries(16, -1, [this](const WrittenSample& sample, std::span<uint8_t> entry) {
                   const bool key = (sample.sizeField & riff::kDeltaFrameBit) == 0;
                   riff::setU32(entry, 0, sample.audio ? kAudioChunkId : chunkId);
                   riff::setU32(entry, 4, key ? riff::kIndexFlagKey : 0);
                   riff::setU32(entry, 8, sample.offset - 8);
                   riff::setU32(entry, 12, sample.sizeField & ~riff::kDeltaFrameBit);
               });
    }

    // Closes the current part: its ix00 when the file is OpenDML, the movi size, idx1 for the
    // first part, the RIFF size.
    bool closePart(bool openDml)
    {
        Part& part = parts.back();
        if (openDml && (!writePartIndex(0) || (audio && !writePartIndex(1))))
            return false;
        const int64_t moviEnd = writePos;
        const bool first = parts.size() == 1;
        if (first && !writeIdx1())
            return false;
        const int64_t riffEnd = writePos;
        return patchU32(part.moviListPos + 4, clampU32(moviEnd - part.moviListPos - 8)) &&
               patchU32(part.riffPos + 4, clampU32(riffEnd - part.riffPos - 8));
    }

    bool startNextPart()
    {
        if (!closePart(true))
            return false;
        partSamples.clear();
        std::vector<uint8_t> h;
        putU32(h, riff::kRiff);
        putU32(h, 0);
        putU32(h, riff::kAviX);
        putU32(h, riff::kList);
        putU32(h, 0);
        putU32(h, riff::kMovi);
        parts.push_back({writePos, writePos + 12});
        return append(h);
    }

    // Writes one chunk of the video, or of the sound when audioChunk is set.
    bool writeChunk(std::span<const uint8_t> data, bool key, bool lend = false, bool audioChunk = false)
    {
        if (!audioChunk && audioSchedule && !writeAudioUpTo(audioSchedule->chunksBefore(totalFrames)))
            return false;
        const auto size = static_cast<uint32_t>(data.size());
        const int64_t chunkBytes = riff::chunkSpan(size);
        const Part& current = parts.back();
        const avi_layout::PartSamples counts{current.frames, current.audioChunks, audio.has_value()};
        if (avi_layout::startsNewPart(writePos - current.riffPos, counts, chunkBytes, audioChunk,
                                      parts.size() == 1, static_cast<int32_t>(parts.size()), options)) {
            if (!startNextPart())
                return false;
        }
        chunkIdNow = audioChunk ? kAudioChunkId : chunkId;
        if (!appendChunk(data, lend))
            return false;
        Part& part = parts.back();
        const int64_t indexBase = part.moviListPos + 8;
        const auto offset = static_cast<uint32_t>(writePos - chunkBytes + 8 - indexBase);
        sampleBytes += size;
        if (audioChunk) {
            partSamples.push_back({offset, size, true});
            ++part.audioChunks;
            part.audioUnits += audio->sampleSize > 0 ? size / audio->sampleSize : 1;
            largestAudioChunk = std::max(largestAudioChunk, size);
            return true;
        }
        // An empty sample repeats the previous picture and can never be a key frame.
        partSamples.push_back({offset, size | (key && size > 0 ? 0 : riff::kDeltaFrameBit), false});
        ++part.frames;
        ++totalFrames;
        largestSample = std::max(largestSample, size);
        return true;
    }

    // Writes the sound's chunks up to (not including) chunk `end`, read from the sound's reader.
    bool writeAudioUpTo(int32_t end)
    {
        for (; audioWritten < end; ++audioWritten) {
            const uint32_t size = audio->chunkBytes[static_cast<size_t>(audioWritten)];
            if (!audioReader->readChunk(audioWritten, audioBuffer) || audioBuffer.size() < size) {
                readErrorText = audioReader->errorText();
                if (readErrorText.empty())
                    readErrorText = "the sound file could not be read";
                return false;
            }
            if (!writeChunk(std::span(audioBuffer.data(), size), true, false, true))
                return false;
            audioBytes += size;
        }
        return true;
    }

    // Makes the writer ready to append sample pos, of firstBytes bytes: refuses a position
    // behind the last sample and a sample above 2 GB, reserves the header before the first
    // sample, and fills a gap up to pos with empty samples.
    AviStatus prepareAt(int32_t pos, size_t firstBytes)
    {
        if (state == State::Failed)
            return AviStatus::WriteFailed;
        if (state != State::Streaming)
            return AviStatus::BadState;
        if (pos < totalFrames || firstBytes > 0x7FFFFFFF)
            return AviStatus::BadParameter;
        if (!headerReserved && !reserveHeader())
            return fail();
        while (totalFrames < pos) {
            if (!writeChunk({}, false))
                return fail();
        }
        return AviStatus::Ok;
    }

    AviStatus finish()
    {
        if (state == State::Finished)
            return AviStatus::Ok;
        if (state == State::Failed)
            return AviStatus::WriteFailed;
        if (state == State::NoStream) {
            state = State::Finished;
            if (!file->close())
                return fail();
            return AviStatus::BadState;
        }
        if (!headerReserved && !reserveHeader())
            return fail();
        const bool openDml = parts.size() > 1;
        if (!closePart(openDml))
            return fail();
        if (openDml && !writeOpenDmlHeaders())
            return fail();
        if (!patch(avihPos, buildAvih()) || !patch(strhPos, buildStrh()) ||
            (audio && !patch(audioStrhPos, buildAudioStrh())))
            return fail();
        if (!flush())
            return fail();
        state = State::Finished;
        if (!file->close())
            return fail();
        return AviStatus::Ok;
    }

    // Turns the two placeholders into the super index and LIST 'odml'.
    bool writeOpenDmlHeaders()
    {
        std::vector<uint8_t> indx;
        putU32(indx, riff::kIndx);
        putU32(indx, static_cast<uint32_t>(superIndexBytes()));
        putU16(indx, 4);
        indx.push_back(0);
        indx.push_back(riff::kIndexOfIndexes);
        putU32(indx, static_cast<uint32_t>(parts.size()));
        putU32(indx, chunkId);
        for (int i = 0; i < 3; ++i)
            putU32(indx, 0);
        for (const Part& part : parts) {
            putU64(indx, static_cast<uint64_t>(part.indexPos[0]));
            putU32(indx, part.indexBytes[0]);
            putU32(indx, part.frames);
        }
        if (audio) {
            std::vector<uint8_t> audioIndx;
            putU32(audioIndx, riff::kIndx);
            putU32(audioIndx, static_cast<uint32_t>(superIndexBytes()));
            putU16(audioIndx, 4);
            audioIndx.push_back(0);
            audioIndx.push_back(riff::kIndexOfIndexes);
            putU32(audioIndx, static_cast<uint32_t>(parts.size()));
            putU32(audioIndx, kAudioChunkId);
            for (int i = 0; i < 3; ++i)
                putU32(audioIndx, 0);
            for (const Part& part : parts) {
                putU64(audioIndx, static_cast<uint64_t>(part.indexPos[1]));
                putU32(audioIndx, part.indexBytes[1]);
                putU32(audioIndx, clampU32(part.audioUnits));
            }
            if (!patch(audioIndxPos, audioIndx))
                return false;
        }
        std::vector<uint8_t> odml;
        putU32(odml, riff::kList);
        putU32(odml, kOdmlPlaceholderBytes);
        putU32(odml, riff::kOdml);
        putU32(odml, riff::kDmlh);
        putU32(odml, 248);
        putU32(odml, static_cast<uint32_t>(totalFrames));
        odml.resize(8 + kOdmlPlaceholderBytes, 0);
        return patch(indxPos, indx) && patch(odmlPos, odml);
    }
};

AviWriter::AviWriter(std::unique_ptr<Impl> impl) : m_impl(std::move(impl)) {}

AviWriter::~AviWriter()
{
    if (m_impl && m_impl->state != Impl::State::Finished && m_impl->state != Impl::State::Failed)
        (void)m_impl->finish(); // a caller that needs the outcome calls finish() itself
}

AviCreateResult AviWriter::create(const std::string& path, const AviWriterOptions& options)
{
    AviCreateResult result;
    std::unique_ptr<FileIo> file = createFileForWrite(path, result.errorText);
    if (!file) {
        result.status = AviStatus::CannotOpen;
        return result;
    }
    return create(std::move(file), options);
}

AviCreateResult AviWriter::create(std::unique_ptr<FileIo> file, const AviWriterOptions& options)
{
    AviCreateResult result;
    if (!file) {
        result.status = AviStatus::CannotOpen;
        return result;
    }
    auto impl = std::make_unique<Impl>();
    impl->file = std::move(file);
    impl->options = options;
    result.writer.reset(new AviWriter(std::move(impl)));
    return result;
}

AviStatus AviWriter::createStream(const core::AviStreamInfo& info)
{
    if (m_impl->state != Impl::State::NoStream)
        return m_impl->state == Impl::State::Failed ? AviStatus::WriteFailed : AviStatus::BadState;
    m_impl->info = info;
    m_impl->state = Impl::State::Streaming;
    return AviStatus::Ok;
}

AviStatus AviWriter::setFormat(std::span<const uint8_t> format)
{
    if (m_impl->state == Impl::State::Failed)
        return AviStatus::WriteFailed;
    if (m_impl->state != Impl::State::Streaming || m_impl->headerReserved)
        return AviStatus::BadState;
    if (format.size() > 0xFFFFFF)
        return AviStatus::BadParameter;
    m_impl->format.assign(format.begin(), format.end());
    // Uncompressed frames are stored as '00db', everything else as '00dc'.
    const bool uncompressed = format.size() >= 20 && riff::getU32(format, 16) == 0;
    m_impl->chunkId = riff::dataChunkId(0, uncompressed ? "db" : "dc");
    return AviStatus::Ok;
}

AviStatus AviWriter::addAudio(const AudioTrack& track, AudioChunkReader& reader)
{
    Impl& w = *m_impl;
    if (w.state == Impl::State::Failed)
        return AviStatus::WriteFailed;
    if (w.state != Impl::State::Streaming || w.headerReserved || w.audio)
        return AviStatus::BadState;
    if (track.rate == 0 || track.scale == 0 || track.format.size() > 0xFFFF)
        return AviStatus::BadParameter;
    w.audio = track;
    w.audioReader = &reader;
    w.audioSchedule.emplace(*w.audio, w.info);
    return AviStatus::Ok;
}

AviStatus AviWriter::writeSample(int32_t pos, std::span<const uint8_t> data, bool key)
{
    Impl& w = *m_impl;
    if (const AviStatus ready = w.prepareAt(pos, data.size()); ready != AviStatus::Ok)
        return ready;
    if (!w.writeChunk(data, key))
        return w.fail();
    return AviStatus::Ok;
}

AviStatus AviWriter::writeSamples(int32_t pos, std::span<const SampleRef> samples, int32_t& written)
{
    written = 0;
    Impl& w = *m_impl;
    if (const AviStatus ready = w.prepareAt(pos, 0); ready != AviStatus::Ok)
        return ready;
    for (const SampleRef& sample : samples) {
        if (sample.data.size() > 0x7FFFFFFF)
            return AviStatus::BadParameter;
        if (!w.writeChunk(sample.data, sample.key, true))
            return w.fail();
        ++written;
    }
    // The lent bytes must be in the file before the caller may reuse them.
    if (!w.flush())
        return w.fail();
    return AviStatus::Ok;
}

AviStatus AviWriter::finish()
{
    return m_impl->finish();
}

int32_t AviWriter::sampleCount() const
{
    return m_impl->totalFrames;
}

const std::string& AviWriter::errorText() const
{
    return m_impl->errorText;
}

} // namespace video
