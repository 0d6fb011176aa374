#include "playback/player_thread.h"

#include <exception>

namespace wl {

TPlayerThread::TPlayerThread(const std::function<std::unique_ptr<TMP3Player>()>& make) {
    thread_.setObjectName(QStringLiteral("player"));
    context_ = new QObject;
    context_->moveToThread(&thread_);
    thread_.start();
    QMetaObject::invokeMethod(context_, [this, &make] {
        player_ = make();
        // The decoding and output threads post; the messages are handled here.
        player_->Messages().SetWakeCallback([this] {
            QMetaObject::invokeMethod(
                context_, [this] { if (player_) player_->Messages().ProcessMessages(); }, Qt::QueuedConnection);
        });
    }, Qt::BlockingQueuedConnection);
}

TPlayerThread::~TPlayerThread() {
    QMetaObject::invokeMethod(context_, [this] {
        player_->Messages().SetWakeCallback({});
        try {
            player_->Stop();
        } catch (const std::exception&) {
        }
        try {
            player_->Close();
        } catch (const std::exception&) {
        }
        player_.reset();
    }, Qt::BlockingQueuedConnection);
    thread_.quit();
    thread_.wait();
    delete context_;  // with whatever was still posted to it
}

// (A wake-up may still come in from the player's threads while it is being
// destroyed: what runs after that finds no player and does nothing.)
void TPlayerThread::Post(std::function<void(TMP3Player&)> work) {
    QMetaObject::invokeMethod(context_, [this, work = std::move(work)] { Do(work); }, Qt::QueuedConnection);
}

void TPlayerThread::Run(const std::function<void(TMP3Player&)>& work) {
    QMetaObject::invokeMethod(context_, [this, &work] { Do(work); }, Qt::BlockingQueuedConnection);
}

// An exception must not reach the thread's event loop (it would end the
// program): it goes where the player's own failures go.
void TPlayerThread::Do(const std::function<void(TMP3Player&)>& work) {
    if (!player_) return;
    try {
        work(*player_);
    } catch (const std::exception& error) {
        try {
            if (player_->OnError) player_->OnError(player_.get(), error);
        } catch (...) {
        }
    } catch (...) {
    }
}

}  // namespace wl
