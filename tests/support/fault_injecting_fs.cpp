#include "support/fault_injecting_fs.h"

namespace sorvin::test {

class FaultInjectingFs::FaultyReader final : public fs::Reader {
public:
    FaultyReader(FaultInjectingFs& owner, std::unique_ptr<fs::Reader> inner, fs::Path path)
        : owner_(owner), inner_(std::move(inner)), path_(std::move(path))
    {
    }

    std::size_t read(void* buffer, std::size_t n) override
    {
        owner_.enter(Call::Read, path_);
        return inner_->read(buffer, n);
    }

private:
    FaultInjectingFs& owner_;
    std::unique_ptr<fs::Reader> inner_;
    fs::Path path_;
};

void FaultInjectingFs::failOn(Call call, int err, Match match, int skip, int times)
{
    faults_.push_back({call, err, std::move(match), skip, times});
}

void FaultInjectingFs::enter(Call call, const fs::Path& p, const fs::Path& other)
{
    ++counts_[static_cast<std::size_t>(call)];
    for (auto it = actions_.begin(); it != actions_.end(); ++it) {
        if (it->first != call) continue;
        const auto action = std::move(it->second);
        actions_.erase(it);
        action();
        break;
    }
    for (auto& f : faults_) {
        if (f.call != call || f.times == 0) continue;
        if (f.match && !f.match(p) && (other.empty() || !f.match(other))) continue;
        if (f.skip > 0) {
            --f.skip;
            continue;
        }
        if (f.times > 0) --f.times;
        throw fs::FsError("injected", f.err, p);
    }
}

std::unique_ptr<fs::Reader> FaultInjectingFs::openRead(const fs::Path& p)
{
    enter(Call::OpenRead, p);
    return std::make_unique<FaultyReader>(*this, inner_.openRead(p), p);
}

}  // namespace sorvin::test
