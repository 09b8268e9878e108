#include "exec_thread.h"

#include <array>
#include <functional>
#include <limits>
#include <optional>

#include "bmp_layout.h"
#include "band_conversion.h"
#include "band_plan.h"
#include "job_notices.h"
#include "platform/error.h"
#include "platform/path_checks.h"
#include "platform/replacement_file.h"
#include "platform/source_file.h"
#include "ratio.h"

namespace pictrim {

using platform::NoticeAnswer;

namespace {

using Destination = platform::ReplacementFile;

// Why a job ends before its file is in place.
struct JobError {
    enum class Kind {
        Quiet,  // nothing to tell: replacing was declined, a stop came, or the commit group tells it
        DestinationUnusable,
        SourceUnusable,
        ReadFailed,
        NotBitmap,
        BadHeader,
        NotListedRatio,
        TooSmallForRatio,
        TooLarge,
        OutOfMemory,
        NameTaken,
        WriteFailed,
        NotCommitted,
    };
    JobError(Kind what, platform::Error why = {}) : kind(what), system(why) {}
    Kind kind;
    platform::Error system;  // the system's reason, where it gave one
    HeaderCheck header;      // BadHeader: what the header showed
    Destination::CommitResult committed = Destination::CommitResult::Failed;  // NotCommitted
};
// What a stage ends the job with; none to go on to the next.
using Outcome = std::optional<JobError>;

// An open that failed for want of file descriptors is a failure of the run,
// not a refusal of the file.
platform::Notice CannotOpen(const std::string& path, const platform::Error& error) {
    platform::Notice notice = notices::OpenFailure(path);
    if (error.kind == platform::Error::Kind::OutOfDescriptors) notice.kind = platform::NoticeKind::Failure;
    return notice;
}

// The one place where a job's error becomes what it tells; none for a quiet end.
std::optional<platform::Notice> NoticeFor(const JobError& error, const std::string& src, const std::string& dst) {
    using Kind = JobError::Kind;
    switch (error.kind) {
    case Kind::Quiet: break;
    case Kind::DestinationUnusable: return CannotOpen(dst, error.system);
    case Kind::SourceUnusable: return CannotOpen(src, error.system);
    case Kind::ReadFailed: return notices::ReadFailure(src);
    case Kind::NotBitmap: return notices::NotBitmap();
    case Kind::BadHeader: return notices::BadSource(error.header.error, error.header.layout, src);
    case Kind::NotListedRatio: return notices::NotYetAvailable();
    case Kind::TooSmallForRatio: return notices::TooSmallForRatio();
    case Kind::TooLarge: return notices::TooLarge(src);
    case Kind::OutOfMemory: return notices::OutOfMemory();
    case Kind::NameTaken: return notices::NameTaken(dst);
    case Kind::WriteFailed: return notices::WriteFailure(dst);
    case Kind::NotCommitted: return notices::AfterCommit(error.committed, dst);
    }
    return std::nullopt;
}

// The job's stages in their order, each handing on what the next needs.
// Nothing is written to the destination before the source has passed every
// check; a refusal leaves it exactly as it was. Nobody is asked about
// replacing what could not be replaced anyway.
class JobStages {
public:
    JobStages(const std::string& src, const std::string& dst, std::stop_token stop)
        : m_src(src), m_dst(dst), m_stop(std::move(stop)) {}

    Outcome ExamineDestination(const std::function<NoticeAnswer(const platform::Notice&)>& ask) {
        const Destination::Finding found = Destination::Examine(m_dst, platform::IdentityOf(m_src));
        if (found.state == Destination::State::SameAsSource || found.state == Destination::State::Unusable) {
            return JobError(JobError::Kind::DestinationUnusable, found.error);
        }
        m_mayReplace = found.state == Destination::State::Replaceable;
        m_seenAbsent = found.state == Destination::State::Absent;
        if (m_mayReplace && ask(notices::OverwritePrompt(m_dst)) != NoticeAnswer::Yes) return JobError::Kind::Quiet;
        return std::nullopt;
    }

    Outcome ReadHeader() {
        if (const platform::Error error = m_source.Open(m_src)) return JobError(JobError::Kind::SourceUnusable, error);
        const auto signatureBytes = m_source.Read(m_header.data(), 2);
        if (!signatureBytes) return JobError::Kind::ReadFailed;
        if (!HasBitmapSignature({m_header.data(), *signatureBytes})) return JobError::Kind::NotBitmap;
        const auto length = m_source.Length();
        const auto headerRest = m_source.Read(m_header.data() + 2, m_header.size() - 2);
        if (!length || !headerRest) return JobError::Kind::ReadFailed;
        const HeaderCheck check = CheckSourceHeader({m_header.data(), 2 + *headerRest}, *length);
        if (check.error != HeaderError::None) {
            JobError error(JobError::Kind::BadHeader);
            error.header = check;
            return error;
        }
        m_layout = check.layout;
        return std::nullopt;
    }

    Outcome PlanSize(std::int32_t percent, std::int32_t ratioIndex) {
        constexpr std::uint64_t kMax32 = std::numeric_limits<std::uint32_t>::max();
        if (!IsListedRatio(percent, ratioIndex)) return JobError::Kind::NotListedRatio;
        const bool enlarge = percent > 100;
        const TargetDims target = TargetSize(m_layout.width, m_layout.height, percent);
        if (target.width == 0 || target.height == 0) return JobError::Kind::TooSmallForRatio;
        if (target.width > kMax32 || target.height > kMax32 ||
            kHeaderBytes + ImageSize(target.width, target.height) > kMax32) {
            return JobError::Kind::TooLarge;
        }
        m_dstWidth = static_cast<std::uint32_t>(target.width);
        m_dstHeight = static_cast<std::uint32_t>(target.height);
        const std::uint32_t step = enlarge ? 0 : StepTable[static_cast<std::size_t>(ratioIndex)];
        m_plan = BandPlan::Make(enlarge, step, m_layout.width, m_layout.height, m_dstWidth, m_dstHeight);
        return std::nullopt;
    }

    // All memory is taken before the destination is touched.
    Outcome TakeMemory() {
        m_buffers = BandBuffers::Allocate(m_plan);
        if (!m_buffers.Complete()) return JobError::Kind::OutOfMemory;
        return std::nullopt;
    }

    Outcome OpenDestination() {
        const Destination::Opening opened = m_destination.Open(m_dst, m_source.Identity(), m_mayReplace, m_seenAbsent);
        switch (opened.result) {
        case Destination::OpenResult::Opened: break;
        case Destination::OpenResult::NameTaken: return JobError::Kind::NameTaken;
        case Destination::OpenResult::SameAsSource:
        case Destination::OpenResult::Unusable: return JobError(JobError::Kind::DestinationUnusable, opened.error);
        }
        return std::nullopt;
    }

    Outcome Convert() {
        std::array<std::uint8_t, kHeaderBytes> outHeader{};
        BuildDestinationHeader(m_header, m_layout, m_dstWidth, m_dstHeight, outHeader);
        const bool started = m_destination.Reserve(kHeaderBytes + ImageSize(m_dstWidth, m_dstHeight)) &&
                             m_destination.Write(outHeader.data(), outHeader.size());
        const BandResult result = started ? ConvertInBands(m_plan, m_buffers, m_source, m_layout.pixelOffset,
                                                           m_destination, m_stop)
                                          : BandResult::WriteFailed;
        // A stop that comes before the commit keeps the old destination.
        if (result == BandResult::Stopped || m_stop.stop_requested()) return JobError::Kind::Quiet;
        switch (result) {
        case BandResult::Completed:
        case BandResult::Stopped: break;
        case BandResult::ReadFailed: return JobError::Kind::ReadFailed;
        case BandResult::OutOfMemory: return JobError::Kind::OutOfMemory;
        case BandResult::WriteFailed: return JobError::Kind::WriteFailed;
        }
        return std::nullopt;
    }

    Outcome PutInPlace(bool preserveTimestamps, platform::CommitGroup* commits, platform::NoticeOwner* owner) {
        if (preserveTimestamps) m_destination.SetModificationTime(m_source.ModificationTime());
        if (commits != nullptr) {
            // Made durable together with other files; the outcome is told
            // from there, once the file is in place.
            commits->Submit(
                std::move(m_destination),
                [owner, path = m_dst](auto committed) {
                    if (owner != nullptr) owner->ShowNotice(notices::AfterCommit(committed, path));
                },
                m_src);
            return JobError::Kind::Quiet;
        }
        if (!m_destination.FinishFlush()) return JobError::Kind::WriteFailed;
        // The point of no return: a stop from here on lets the file take its
        // place and be reported done, so that what is told is what is on disk.
        if (m_stop.stop_requested()) return JobError::Kind::Quiet;
        const Destination::CommitResult committed = m_destination.Commit();
        if (committed != Destination::CommitResult::Committed) {
            JobError error(JobError::Kind::NotCommitted);
            error.committed = committed;
            return error;
        }
        return std::nullopt;
    }

    // The destination as it was, before anything is told.
    void Abandon() { m_destination.Discard(); }

private:
    const std::string& m_src;
    const std::string& m_dst;
    std::stop_token m_stop;
    bool m_mayReplace = false;
    bool m_seenAbsent = false;
    platform::SourceFile m_source;
    std::array<std::uint8_t, kHeaderBytes> m_header{};
    SourceLayout m_layout;
    std::uint32_t m_dstWidth = 0;
    std::uint32_t m_dstHeight = 0;
    BandPlan m_plan;
    BandBuffers m_buffers;
    Destination m_destination;
};

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
    JobStages stages(m_strSrcPath, m_strDstPath, StopToken());
    Outcome ended = stages.ExamineDestination([this](const platform::Notice& notice) { return Ask(notice); });
    if (!ended) ended = stages.ReadHeader();
    if (!ended) ended = stages.PlanSize(m_nPercent, m_nRatioIndex);
    if (!ended) ended = stages.TakeMemory();
    if (!ended) ended = stages.OpenDestination();
    if (!ended) ended = stages.Convert();
    if (!ended) ended = stages.PutInPlace(m_bPreserveTimestamps, m_pCommits, m_hWndOwner);
    if (!ended) return true;
    stages.Abandon();
    if (const auto notice = NoticeFor(*ended, m_strSrcPath, m_strDstPath)) Tell(*notice);
    return false;
}

}  // namespace pictrim
