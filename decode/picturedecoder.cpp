#include "decode/picturedecoder.h"

#include <algorithm>

#include <QFileInfo>

#include "platform/memory.h"

namespace tavlin {

namespace {
// Decodes running at once, cancelled ones still finishing included: one for the
// picture asked for and one ahead, which bounds both the cores and the memory
// taken (a 24 MP JPEG holds about 30 MB while it decodes).
constexpr int MaxRunning = 2;
// What a remembered failure is counted as: it holds no pixels.
constexpr std::int64_t FailureBytes = 4096;

std::int64_t defaultCacheLimit(const DisplayContext& context) {
    const double dpr = std::max(1.0, context.devicePixelRatio);
    const std::int64_t screen = std::int64_t(context.screenPixels.width() * dpr) *
                                std::int64_t(context.screenPixels.height() * dpr) * 4;
    std::int64_t limit = 4 * screen;
    if (const std::int64_t physical = physicalMemoryBytes(); physical > 0)
        limit = std::min(limit, physical / 8);
    return limit;
}

QString folderOf(const QString& path) {
    return QFileInfo(path).absolutePath();
}
} // namespace

std::int64_t DecodedPicture::bytes() const {
    return std::max<std::int64_t>(FailureBytes, picture.image.sizeInBytes());
}

PictureDecoder::PictureDecoder(QObject* parent) : QObject(parent) {
    returnLargeBuffersPromptly();
    // One spare thread, so a new decode never queues behind one that is returning.
    m_pool.setMaxThreadCount(MaxRunning + 1);
}

PictureDecoder::~PictureDecoder() {
    for (const JobPtr& job : m_running)
        job->cancel();
    m_pool.waitForDone();
}

DecodedPtr PictureDecoder::request(const QString& path, const DisplayContext& context) {
    ++m_stats.requests;
    adoptContext(context);
    if (m_request) {
        if (m_request->path == path && m_request->context == context)
            return nullptr; // already on its way
        m_request->cancel();
        m_request.reset();
    }
    if (DecodedPtr hit = cached(path, context)) {
        ++m_stats.fromCache;
        pump();
        return hit;
    }
    for (const JobPtr& job : m_running) {
        if (!job->isCancelled() && job->path == path && job->context == context) {
            ++m_stats.adopted;
            m_request = job;
            pump();
            return nullptr;
        }
    }
    std::erase_if(m_prefetches, [&](const JobPtr& job) { return job->path == path; });
    m_request = std::make_shared<Job>();
    m_request->path = path;
    m_request->context = context;
    pump();
    return nullptr;
}

void PictureDecoder::cancelRequest() {
    if (!m_request)
        return;
    m_request->cancel();
    m_request.reset();
    pump();
}

void PictureDecoder::prefetch(const QStringList& paths, const DisplayContext& context,
                              const QString& folder) {
    adoptContext(context);
    const QString here = QFileInfo(folder).absoluteFilePath();
    forget([&](const DecodedPicture& p) { return folderOf(p.path) != here; });
    m_prefetches.clear();
    for (const QString& path : paths) {
        const bool underway = std::any_of(m_running.begin(), m_running.end(), [&](const JobPtr& j) {
            return !j->isCancelled() && j->path == path && j->context == context;
        });
        if (underway || cached(path, context))
            continue;
        auto job = std::make_shared<Job>();
        job->path = path;
        job->context = context;
        m_prefetches.push_back(std::move(job));
    }
    for (const JobPtr& job : m_running) {
        if (job != m_request && !paths.contains(job->path))
            job->cancel();
    }
    pump();
}

void PictureDecoder::setCacheLimit(std::int64_t bytes) {
    m_cacheLimitSet = true;
    m_cacheLimit = bytes;
    forget([](const DecodedPicture&) { return false; });
}

DecodedPtr PictureDecoder::cached(const QString& path, const DisplayContext& context) {
    for (auto it = m_cache.begin(); it != m_cache.end(); ++it) {
        const DecodedPicture& p = **it;
        if (p.path != path || !(p.context == context))
            continue;
        if (fileStampOf(path) != p.stamp) {
            // The file was replaced or rewritten since: never show the old content.
            m_cachedBytes -= p.bytes();
            m_cache.erase(it);
            return nullptr;
        }
        m_cache.splice(m_cache.begin(), m_cache, it);
        return m_cache.front();
    }
    return nullptr;
}

void PictureDecoder::waitForIdle() {
    m_pool.waitForDone();
}

void PictureDecoder::start(const JobPtr& job) {
    job->started = true;
    m_running.push_back(job);
    ++m_stats.decodes;
    // Decodes that run together share the memory one may take.
    const LoadControl control{job->cancelled.get(),
                              PictureLimits::memoryBudget / std::int64_t(m_running.size())};
    m_pool.start([this, job, control] {
        auto result = std::make_shared<DecodedPicture>();
        result->path = job->path;
        result->context = job->context;
        const FileStamp before = fileStampOf(job->path);
        result->picture =
            loadPicture(job->path, displayPlanner(job->context, &result->plan), control);
        // Set while this is the image's only owner: later it would copy the pixels.
        result->picture.image.setDevicePixelRatio(result->plan.scale);
        // A file that changed while it was read may mix two versions: never cache it.
        if (before.valid() && fileStampOf(job->path) == before)
            result->stamp = before;
        QMetaObject::invokeMethod(
            this, [this, job, done = DecodedPtr(std::move(result))] { finished(job, done); },
            Qt::QueuedConnection);
    });
}

void PictureDecoder::finished(const JobPtr& job, DecodedPtr result) {
    std::erase(m_running, job);
    // A prefetch cancelled too late to stop still made a good picture: keep it.
    if (!result->picture.cancelled && result->stamp.valid() && result->context == m_context)
        store(result);
    if (job == m_request) {
        m_request.reset();
        Q_EMIT ready(result);
    }
    pump();
}

void PictureDecoder::pump() {
    if (m_request) {
        // Prefetches yield to the picture asked for: they stop, and none starts meanwhile.
        for (const JobPtr& job : m_running) {
            if (job != m_request)
                job->cancel();
        }
        if (!m_request->started && int(m_running.size()) < MaxRunning)
            start(m_request);
        return;
    }
    while (!m_prefetches.empty() && int(m_running.size()) < MaxRunning && !prefetchRunning()) {
        JobPtr job = std::move(m_prefetches.front());
        m_prefetches.pop_front();
        if (!cached(job->path, job->context))
            start(job);
    }
}

bool PictureDecoder::prefetchRunning() const {
    return std::any_of(m_running.begin(), m_running.end(), [this](const JobPtr& job) {
        return job != m_request && !job->isCancelled();
    });
}

void PictureDecoder::store(DecodedPtr picture) {
    forget([&](const DecodedPicture& p) {
        return p.path == picture->path && p.context == picture->context;
    });
    m_cachedBytes += picture->bytes();
    m_cache.push_front(std::move(picture));
    forget([](const DecodedPicture&) { return false; });
}

void PictureDecoder::forget(const std::function<bool(const DecodedPicture&)>& unwanted) {
    for (auto it = m_cache.begin(); it != m_cache.end();) {
        if (unwanted(**it)) {
            m_cachedBytes -= (*it)->bytes();
            it = m_cache.erase(it);
        } else {
            ++it;
        }
    }
    // Over the bound: the least recently used go first; the newest always stays.
    while (m_cachedBytes > m_cacheLimit && m_cache.size() > 1) {
        m_cachedBytes -= m_cache.back()->bytes();
        m_cache.pop_back();
    }
}

void PictureDecoder::adoptContext(const DisplayContext& context) {
    if (!m_cacheLimitSet)
        m_cacheLimit = defaultCacheLimit(context);
    if (context == m_context)
        return;
    m_context = context;
    // Another layout (options, panel, screen) needs other pixels.
    forget([&](const DecodedPicture& p) { return !(p.context == context); });
    std::erase_if(m_prefetches, [&](const JobPtr& job) { return !(job->context == context); });
    for (const JobPtr& job : m_running) {
        if (job != m_request && !(job->context == context))
            job->cancel();
    }
}

} // namespace tavlin
