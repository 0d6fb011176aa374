// A TMP3Player on a thread of its own. Every operation of the player runs
// there, one at a time and in the order posted, and its events fire there
// (the thread drains the player's message queue), so that opening a file,
// starting and stopping the sound and waiting for the sound server never
// hold up the thread that posts.
#pragma once

#include <QObject>
#include <QThread>

#include <functional>
#include <memory>

#include "engine/mp3_player.h"

namespace wl {

class TPlayerThread {
public:
    // The player is made on the new thread by `make`.
    explicit TPlayerThread(const std::function<std::unique_ptr<TMP3Player>()>& make);
    // Stops and closes the player (what it raises is dropped), then ends the thread.
    ~TPlayerThread();
    TPlayerThread(const TPlayerThread&) = delete;
    TPlayerThread& operator=(const TPlayerThread&) = delete;

    // Runs `work` with the player on its thread, after everything posted before it.
    void Post(std::function<void(TMP3Player&)> work);
    // The same, waiting until it has run. Never from the player's thread.
    void Run(const std::function<void(TMP3Player&)>& work);

private:
    void Do(const std::function<void(TMP3Player&)>& work);
    QThread thread_;
    QObject* context_ = nullptr;  // lives on thread_
    std::unique_ptr<TMP3Player> player_;
};

}  // namespace wl
