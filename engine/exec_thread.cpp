#include "exec_thread.h"

#include <array>
#include <limits>

#include "bmp_layout.h"
#include "band_conversion.h"
#include "band_plan.h"
#include "job_notices.h"
#include "platform/open_failures.h"
#include "platform/path_checks.h"
#include "platform/replacement_file.h"
#include "platform/source_file.h"
#include "ratio.h"

namespace pictrim {

using platform::NoticeAnswer;

namespace {

// An open that failed for want of file descriptors is a failure of the run,
// not a refusal of the file.
platform::Notice CannotOpen(const std::string& path) {
    platform::Notice notice = notices::OpenFailure(path);
    if (platform::TakeDescriptorShortage()) notice.kind = platform::NoticeKind::Failure;
    return notice;
}

}  // namespace

CExecThread::CExecThread(JobParams params)
    : m_hWndOwner(params.owner),
      m_strSrcPath(std::move(params.srcPath)),
      m_strDstPath(std::move(params.dstPath)),
      m_pExecButton(params.execButton),
      m_nPercent(params.percent),
      m_nRatioIndex(params.ratioIndex),
      m_bPreserveTimestamps(params.preserveTimestamps),
      m_pCommits(params.commits) {}

CExecThread::~CExecThread() = default;

bool CExecThread::InitInstance() {
    ConversionJob();
    return false;
}

void CExecThread::EnableExecute(bool enable) {
    if (m_pExecButton != nullptr) m_pExecButton->EnableWindow(enable);
}

// Once a stop is requested nobody waits for an answer: notices are skipped
// and a question counts as No.
void CExecThread::Tell(const platform::Notice& notice) {
    if (m_hWndOwner != nullptr && !StopToken().stop_requested()) m_hWndOwner->ShowNotice(notice);
}

NoticeAnswer CExecThread::Ask(const platform::Notice& notice) {
    if (m_hWndOwner == nullptr || StopToken().stop_requested()) return NoticeAnswer::No;
    return m_hWndOwner->ShowNotice(notice);
}

void CExecThread::ConversionJob() {
    m_bBusy = 1;
    EnableExecute(false);
    // RunSteps releases its files and buffers before it returns, so the done
    // notice comes only for a destination that is complete and closed. It
    // is told even after a stop: the file is in place, and whoever waits
    // must not take the old one for kept.
    if (RunSteps() && m_hWndOwner != nullptr) m_hWndOwner->ShowNotice(notices::Done());
    EnableExecute(true);
    m_bBusy = 0;
}

bool CExecThread::RunSteps() {
    constexpr std::uint64_t kMax32 = std::numeric_limits<std::uint32_t>::max();
    const std::stop_token stop = StopToken();
    platform::TakeDescriptorShortage();  // no note of an earlier job on this thread

    // Nothing is written to the destination before the source has passed
    // every check below; a refusal leaves it exactly as it was. Nobody is
    // asked about replacing what could not be replaced anyway.
    using Destination = platform::ReplacementFile;
    const Destination::State found = Destination::Examine(m_strDstPath, platform::IdentityOf(m_strSrcPath));
    if (found == Destination::State::SameAsSource || found == Destination::State::Unusable) {
        Tell(CannotOpen(m_strDstPath));
        return false;
    }
    const bool mayReplace = found == Destination::State::Replaceable;
    if (mayReplace && Ask(notices::OverwritePrompt(m_strDstPath)) != NoticeAnswer::Yes) return false;

    platform::SourceFile source;
    if (!source.Open(m_strSrcPath)) {
        Tell(CannotOpen(m_strSrcPath));
        return false;
    }
    std::array<std::uint8_t, kHeaderBytes> header{};
    const auto signatureBytes = source.Read(header.data(), 2);
    if (!signatureBytes) {
        Tell(notices::ReadFailure(m_strSrcPath));
        return false;
    }
    if (!HasBitmapSignature({header.data(), *signatureBytes})) {
        Tell(notices::NotBitmap());
        return false;
    }
    const auto length = source.Length();
    const auto headerRest = source.Read(header.data() + 2, header.size() - 2);
    if (!length || !headerRest) {
        Tell(notices::ReadFailure(m_strSrcPath));
        return false;
    }
    const HeaderCheck check = CheckSourceHeader({header.data(), 2 + *headerRest}, *length);
    if (check.error != HeaderError::None) {
        Tell(notices::BadSource(check.error, check.layout, m_strSrcPath));
        return false;
    }
    const SourceLayout& layout = check.layout;

    if (!IsListedRatio(m_nPercent, m_nRatioIndex)) {
        Tell(notices::NotYetAvailable());
        return false;
    }
    const bool enlarge = m_nPercent > 100;
    const TargetDims target = TargetSize(layout.width, layout.height, m_nPercent);
    if (target.width == 0 || target.height == 0) {
        Tell(notices::TooSmallForRatio());
        return false;
    }
    if (target.width > kMax32 || target.height > kMax32 || kHeaderBytes + ImageSize(target.width, target.height) > kMax32) {
        Tell(notices::TooLarge(m_strSrcPath));
        return false;
    }
    const auto dstWidth = static_cast<std::uint32_t>(target.width);
    const auto dstHeight = static_cast<std::uint32_t>(target.height);
    const BandPlan plan = BandPlan::Make(enlarge, enlarge ? 0 : StepTable[m_nRatioIndex], layout.width,
                                         layout.height, dstWidth, dstHeight);

    // All memory is taken before the destination is touched.
    BandBuffers buffers = BandBuffers::Allocate(plan);
    if (!buffers.Complete()) {
        Tell(notices::OutOfMemory());
        return false;
    }

    Destination destination;
    switch (destination.Open(m_strDstPath, source.Identity(), mayReplace, found == Destination::State::Absent)) {
    case Destination::OpenResult::Opened: break;
    case Destination::OpenResult::NameTaken: Tell(notices::NameTaken(m_strDstPath)); return false;
    case Destination::OpenResult::SameAsSource:
    case Destination::OpenResult::Unusable: Tell(CannotOpen(m_strDstPath)); return false;
    }

    std::array<std::uint8_t, kHeaderBytes> outHeader{};
    BuildDestinationHeader(header, layout, dstWidth, dstHeight, outHeader);
    const bool started = destination.Reserve(kHeaderBytes + ImageSize(dstWidth, dstHeight)) &&
                         destination.Write(outHeader.data(), outHeader.size());
    const BandResult result = started
                                  ? ConvertInBands(plan, buffers, source, layout.pixelOffset, destination, stop)
                                  : BandResult::WriteFailed;
    // A stop that comes before the commit keeps the old destination.
    if (result == BandResult::Stopped || stop.stop_requested()) return false;
    if (result == BandResult::ReadFailed) {
        destination.Discard();
        Tell(notices::ReadFailure(m_strSrcPath));
        return false;
    }
    if (result == BandResult::OutOfMemory) {
        destination.Discard();
        Tell(notices::OutOfMemory());
        return false;
    }
    if (result == BandResult::WriteFailed) {
        destination.Discard();
        Tell(notices::WriteFailure(m_strDstPath));
        return false;
    }
    if (m_bPreserveTimestamps) destination.SetModificationTime(source.ModificationTime());
    if (m_pCommits != nullptr) {
        // Made durable together with other files; the outcome is told from
        // there, once the file is in place.
        m_pCommits->Submit(
            std::move(destination),
            [owner = m_hWndOwner, path = m_strDstPath](auto committed) {
                if (owner != nullptr) owner->ShowNotice(notices::AfterCommit(committed, path));
            },
            m_strSrcPath);
        return false;
    }
    if (!destination.FinishFlush()) {
        Tell(notices::WriteFailure(m_strDstPath));
        return false;
    }
    // The point of no return: a stop from here on lets the file take its
    // place and be reported done, so that what is told is what is on disk.
    if (stop.stop_requested()) return false;
    const Destination::CommitResult committed = destination.Commit();
    if (committed != Destination::CommitResult::Committed) {
        Tell(notices::AfterCommit(committed, m_strDstPath));
        return false;
    }
    return true;
}

}  // namespace pictrim
