#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <list>
#include <memory>
#include <vector>

#include <QObject>
#include <QString>
#include <QStringList>
#include <QThreadPool>

#include "decode/displayplan.h"
#include "decode/pictureloader.h"
#include "platform/filestamp.h"

namespace tavlin {

// One picture decoded for one layout, or the reason it could not be.
struct DecodedPicture {
    QString path;
    DisplayContext context;
    LoadedPicture picture;
    DisplayPlan plan;
    FileStamp stamp; // the file as it was read; invalid when it changed meanwhile
    std::int64_t bytes() const;
};
using DecodedPtr = std::shared_ptr<const DecodedPicture>;

// Counts that show how the pictures asked for were served.
struct DecoderStats {
    int requests = 0;
    int fromCache = 0; // handed back at once
    int adopted = 0;   // a prefetch already on its way became the request
    int decodes = 0;   // decodes started, prefetches included
};

// Decodes pictures on worker threads so the window only asks and paints. It
// holds one request, the picture the window wants now, and a short list of
// prefetches, the pictures likely to be wanted next. A newer request
// supersedes the older one (which stops early through its cancel flag), and
// prefetches yield to a request. Decoded pictures are kept in a cache bounded
// in bytes and reused only while their file and layout are unchanged.
class PictureDecoder : public QObject {
    Q_OBJECT
public:
    explicit PictureDecoder(QObject* parent = nullptr);
    ~PictureDecoder() override;

    // Asks for `path` laid out for `context`. A valid cached picture comes back
    // at once; otherwise null is returned and `ready` follows when it is done.
    DecodedPtr request(const QString& path, const DisplayContext& context);
    // Drops the request: nothing will be delivered for it.
    void cancelRequest();
    bool requestPending() const { return m_request != nullptr; }
    // Nothing asked for, decoding or waiting to be decoded.
    bool idle() const { return !m_request && m_running.empty() && m_prefetches.empty(); }

    // Decodes `paths` ahead for `context`, most likely first; prefetches of
    // other pictures stop, and cached pictures of other layouts or other folders
    // than `folder` are dropped.
    void prefetch(const QStringList& paths, const DisplayContext& context, const QString& folder);

    // The cache's bound; by default what four screen-sized pictures take, at
    // most an eighth of physical memory.
    void setCacheLimit(std::int64_t bytes);
    std::int64_t cacheLimit() const { return m_cacheLimit; }
    std::int64_t cachedBytes() const { return m_cachedBytes; }
    // A cached picture for `path` and `context` whose file is unchanged.
    DecodedPtr cached(const QString& path, const DisplayContext& context);

    const DecoderStats& stats() const { return m_stats; }
    // Blocks until no decode runs (tests, benchmarks, shutdown).
    void waitForIdle();

Q_SIGNALS:
    // The requested picture is decoded, or could not be.
    void ready(DecodedPtr picture);

private:
    struct Job {
        QString path;
        DisplayContext context;
        std::shared_ptr<std::atomic<bool>> cancelled = std::make_shared<std::atomic<bool>>(false);
        bool started = false;
        bool isCancelled() const { return cancelled->load(); }
        void cancel() { cancelled->store(true); }
    };
    using JobPtr = std::shared_ptr<Job>;

    void start(const JobPtr& job);
    void finished(const JobPtr& job, DecodedPtr result);
    void pump();
    void store(DecodedPtr picture);
    void forget(const std::function<bool(const DecodedPicture&)>& unwanted);
    void adoptContext(const DisplayContext& context);
    bool prefetchRunning() const;

    QThreadPool m_pool;
    JobPtr m_request;
    std::vector<JobPtr> m_running;   // cancelled ones too, until they return
    std::deque<JobPtr> m_prefetches; // waiting, most likely first
    std::list<DecodedPtr> m_cache;   // most recently used first
    std::int64_t m_cachedBytes = 0;
    std::int64_t m_cacheLimit = 0;
    bool m_cacheLimitSet = false;
    DisplayContext m_context;
    DecoderStats m_stats;
};

} // namespace tavlin
