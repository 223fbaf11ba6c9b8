#include "video/source.h"

namespace video {

namespace {

// Streams from this index on are never looked at when a video stream is picked.
constexpr int32_t kStreamsExamined = 10;

} // namespace

Source::Source(std::unique_ptr<AviReader> file, int32_t videoStream)
    : m_file(std::move(file)), m_videoStream(videoStream)
{
}

const core::AviStreamInfo& Source::info() const
{
    return m_file->streamInfo(m_videoStream);
}

const std::vector<uint8_t>& Source::format() const
{
    return m_file->streamFormat(m_videoStream);
}

int32_t Source::sampleCount() const
{
    return m_file->sampleCount(m_videoStream);
}

AviStatus Source::sampleSize(int32_t pos, int32_t& bytes) const
{
    return m_file->sampleSize(m_videoStream, pos, bytes);
}

int32_t Source::findKeyAtOrBefore(int32_t pos) const
{
    return m_file->findKeyAtOrBefore(m_videoStream, pos);
}

void Source::fillFrameRecords(std::span<core::FrameRecord> records) const
{
    m_file->fillFrameRecords(m_videoStream, records);
}

int32_t Source::largestSampleSize() const
{
    return static_cast<int32_t>(info().dwSuggestedBufferSize);
}

AviStatus Source::readSample(int32_t pos, std::span<uint8_t> buffer, int32_t& bytesRead)
{
    return m_file->readSample(m_videoStream, pos, buffer, bytesRead);
}

AviStatus Source::lendSample(int32_t pos, int32_t room, SampleLoan& loan)
{
    return m_file->lendSample(m_videoStream, pos, room, loan);
}

void Source::adviseWillRead(int32_t first, int32_t count)
{
    m_file->adviseWillRead(m_videoStream, first, count);
}

const std::string& Source::errorText() const
{
    return m_file->errorText();
}

namespace {

// Picks the first video stream of an opened file, or shows why there is none.
std::optional<Source> pickVideoStream(AviOpenResult opened, const std::string& path, core::UiPort& ui)
{
    if (opened.status != AviStatus::Ok) {
        // A file that is no AVI at all cannot be opened as one either.
        ui.showMessage(core::messages::couldNotOpenAvi(path));
        return std::nullopt;
    }
    const int32_t streams = opened.reader->streamCount();
    if (streams == 0) {
        ui.showMessage(core::messages::unableToOpenFile());
        return std::nullopt;
    }
    for (int32_t stream = 0; stream < streams && stream < kStreamsExamined; ++stream) {
        if (opened.reader->streamInfo(stream).fccType == core::kStreamTypeVideo)
            return Source(std::move(opened.reader), stream);
    }
    ui.showMessage(core::messages::noVideoStream());
    return std::nullopt;
}

} // namespace

std::optional<Source> openVideoStream(const std::string& path, core::UiPort& ui)
{
    return pickVideoStream(AviReader::open(path), path, ui);
}

SourceOpening::SourceOpening(std::string path)
    : m_path(std::move(path)),
      m_opened(std::async(std::launch::async, [path = m_path] { return AviReader::open(path); }))
{
}

std::optional<Source> SourceOpening::take(core::UiPort& ui)
{
    return pickVideoStream(m_opened.get(), m_path, ui);
}

bool readStreamInfo(core::AviStreamInfo& info, const Source& source, core::UiPort& ui)
{
    if (source.format().size() > core::kBitmapInfoHeaderBytes) {
        ui.showMessage(core::messages::formatTooLarge());
        return false;
    }
    info = source.info();
    return true;
}

void closeSource(std::optional<Source>& slot)
{
    slot.reset();
}

} // namespace video
