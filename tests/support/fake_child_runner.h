#pragma once
// A ChildRunner that starts nothing: it records what each child would have been given and
// answers as the test says.

#include <functional>
#include <mutex>
#include <vector>

#include "platform/child_process.h"

namespace qv::test {

class FakeChildRunner : public platform::ChildRunner {
  public:
    // Answers a request; by default every child ends with status 0 and no output.
    std::function<platform::ChildResult(const platform::ChildRequest&)> answer;

    platform::ChildResult Run(const platform::ChildRequest& request) override {
        {
            std::lock_guard lock(mutex_);
            requests_.push_back(request);
        }
        if (answer) return answer(request);
        platform::ChildResult ok;
        ok.exitCode = 0;
        return ok;
    }
    std::vector<platform::ChildRequest> requests() const {
        std::lock_guard lock(mutex_);
        return requests_;
    }

  private:
    mutable std::mutex mutex_;
    std::vector<platform::ChildRequest> requests_;
};

inline platform::ChildResult Exited(int status, std::string output = {}) {
    platform::ChildResult r;
    r.exitCode = status;
    r.output = std::move(output);
    return r;
}

}  // namespace qv::test
