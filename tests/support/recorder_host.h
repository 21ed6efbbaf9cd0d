// A host for tests: records every message and warning, answers warnings
// from a programmed list (OK when the list runs out, unless told
// otherwise), and runs Synchronize calls on the calling thread.
#pragma once

#include "link/host.h"

#include <deque>
#include <mutex>
#include <string>
#include <vector>

namespace chronavel::test {

class RecorderHost : public Host {
public:
    RecorderHost() { SetHost(this); }
    ~RecorderHost() override { SetHost(nullptr); }

    void Synchronize(const std::function<void()>& fn) override
    {
        {
            std::lock_guard<std::mutex> hold(lock_);
            ++syncs_;
        }
        fn();
    }
    void ShowMessage(const std::string& text) override
    {
        std::lock_guard<std::mutex> hold(lock_);
        messages_.push_back(text);
    }
    bool ShowWarning(const std::string& text) override
    {
        std::lock_guard<std::mutex> hold(lock_);
        warnings_.push_back(text);
        if (answers_.empty())
            return default_answer_;
        bool a = answers_.front();
        answers_.pop_front();
        return a;
    }

    void AnswerNext(bool ok)
    {
        std::lock_guard<std::mutex> hold(lock_);
        answers_.push_back(ok);
    }
    void SetDefaultAnswer(bool ok)
    {
        std::lock_guard<std::mutex> hold(lock_);
        default_answer_ = ok;
    }
    std::vector<std::string> Messages() const
    {
        std::lock_guard<std::mutex> hold(lock_);
        return messages_;
    }
    std::vector<std::string> Warnings() const
    {
        std::lock_guard<std::mutex> hold(lock_);
        return warnings_;
    }
    int Syncs() const
    {
        std::lock_guard<std::mutex> hold(lock_);
        return syncs_;
    }
    void Clear()
    {
        std::lock_guard<std::mutex> hold(lock_);
        messages_.clear();
        warnings_.clear();
        answers_.clear();
        syncs_ = 0;
    }

private:
    mutable std::mutex lock_;
    std::vector<std::string> messages_;
    std::vector<std::string> warnings_;
    std::deque<bool> answers_;
    bool default_answer_ = true;
    int syncs_ = 0;
};

} // namespace chronavel::test
