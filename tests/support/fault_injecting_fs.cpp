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

    std::optional<fs::Mapping> map(std::uint64_t offset, std::size_t n) override
    {
        owner_.enter(Call::Read, path_);
        return inner_->map(offset, n);
    }

private:
    FaultInjectingFs& owner_;
    std::unique_ptr<fs::Reader> inner_;
    fs::Path path_;
};

void FaultInjectingFs::failOn(Call call, int err, Match match, int skip, int times)
{
    faults_.push_back({call, err, std::move(match), skip, times, {}});
}

void FaultInjectingFs::before(Call call, std::function<void()> action, Match match, int skip)
{
    faults_.push_back({call, 0, std::move(match), skip, 1, std::move(action)});
}

fs::Path FaultInjectingFs::PathOf(const fs::Folder& f)
{
    const std::string& p = f.path();
    return p.size() > 1 && p.ends_with('/') ? p.substr(0, p.size() - 1) : p;
}

void FaultInjectingFs::enter(Call call, const fs::Path& p, const fs::Path& other)
{
    ++counts_[static_cast<std::size_t>(call)];
    for (std::size_t i = 0; i < faults_.size(); ++i) {
        Fault& f = faults_[i];
        if (f.call != call || f.times == 0) continue;
        if (f.match && !f.match(p) && (other.empty() || !f.match(other))) continue;
        if (f.skip > 0) {
            --f.skip;
            continue;
        }
        if (f.times > 0) --f.times;
        if (!f.act) throw fs::FsError("injected", f.err, p);
        const auto act = f.act;  // it may add faults of its own
        act();
    }
}

std::unique_ptr<fs::Reader> FaultInjectingFs::openRead(const fs::Entry& e)
{
    const fs::Path p = e.path();
    enter(Call::OpenRead, p);
    return std::make_unique<FaultyReader>(*this, inner_.openRead(e), p);
}

}  // namespace sorvin::test
