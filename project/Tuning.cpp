#include "project/Tuning.h"

#include "project/Project.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>

namespace {

// A generator of the search's own (SplitMix64), apart from the program's
// one generator, so that splitting never moves the weights' draws.
class TSplitMix {
public:
    explicit TSplitMix(std::uint64_t seed) : state_(seed) {}
    std::uint64_t Next()
    {
        std::uint64_t z = (state_ += 0x9e3779b97f4a7c15ull);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
        return z ^ (z >> 31);
    }
    // Uniform in 0 .. n-1 (n > 0), by rejection.
    std::uint64_t Below(std::uint64_t n)
    {
        const std::uint64_t limit = ~std::uint64_t{0} - (~std::uint64_t{0} % n);
        std::uint64_t v = Next();
        while (v >= limit)
            v = Next();
        return v % n;
    }

private:
    std::uint64_t state_;
};

// The elements of a ring in its file order: from the element after the cursor.
std::vector<const TAbsImage*> FileOrder(const PatternRing& ring)
{
    std::vector<const TAbsImage*> elements;
    elements.reserve(ring.GetCount());
    for (const TAbsImage& e : ring.FileOrder())
        elements.push_back(&e);
    return elements;
}

void Append(PatternRing& ring, const TAbsImage& element)
{
    // Add copies Size cells and puts the bias byte after them.
    ring.Add(element, element.ClassIndex);
}

} // namespace

void CopyRing(const PatternRing& from, PatternRing& to)
{
    to.Clear();
    to.SetDimension(from.GetDimension());
    for (const TAbsImage* e : FileOrder(from))
        Append(to, *e);
}

void SplitHeldOut(const PatternRing& all, double fraction, std::uint64_t seed, PatternRing& train,
                  PatternRing& heldOut)
{
    train.Clear();
    heldOut.Clear();
    train.SetDimension(all.GetDimension());
    heldOut.SetDimension(all.GetDimension());
    const std::vector<const TAbsImage*> elements = FileOrder(all);
    std::int32_t classes = 0;
    for (const TAbsImage* e : elements)
        classes = std::max(classes, e->ClassIndex + 1);
    std::vector<std::vector<std::size_t>> byClass(static_cast<std::size_t>(std::max(classes, 0)));
    for (std::size_t i = 0; i < elements.size(); ++i)
        if (elements[i]->ClassIndex >= 0)
            byClass[static_cast<std::size_t>(elements[i]->ClassIndex)].push_back(i);
    std::vector<bool> held(elements.size(), false);
    TSplitMix random(seed);
    for (std::vector<std::size_t>& members : byClass) {
        const std::size_t n = members.size();
        if (n < 2)
            continue;
        auto take = static_cast<std::size_t>(std::llround(static_cast<double>(n) * fraction));
        take = std::clamp<std::size_t>(take, 1, n - 1);
        // The first `take` places of a Fisher-Yates shuffle.
        for (std::size_t i = 0; i < take; ++i) {
            const std::size_t j = i + static_cast<std::size_t>(random.Below(n - i));
            std::swap(members[i], members[j]);
            held[members[i]] = true;
        }
    }
    for (std::size_t i = 0; i < elements.size(); ++i)
        Append(held[i] ? heldOut : train, *elements[i]);
}

TTunePlan PlanTuning(std::uint32_t elements, std::uint32_t inputs, std::uint64_t seed)
{
    TTunePlan plan;
    for (const std::uint32_t hidden : {128u, 256u, 512u})
        for (const float rate : {0.15f, 0.3f})
            plan.settings.push_back({hidden, rate, 0.0f});
    for (std::uint64_t k = 0; k < 2; ++k)
        plan.seeds.push_back(seed + k);
    plan.patience = 8;
    // The work of one epoch of the widest setting, in multiply-adds of its
    // steps (a forward and a backward pass and the update, about three per
    // weight): the limit keeps each run within a budget of about 4e10.
    const double perEpoch = 3.0 * elements * (static_cast<double>(inputs) + 1.0) * 512.0;
    const double budget = 6e11;
    plan.maxEpochs = static_cast<std::uint64_t>(std::clamp(budget / std::max(perEpoch, 1.0), 10.0, 200.0));
    return plan;
}

namespace {

// What the worker threads share with the coordinator.
struct TTuneShared {
    const PatternRing* train = nullptr;
    const THeldOutSet* heldOut = nullptr;
    std::uint32_t classes = 0;
    const TTunePlan* plan = nullptr;
    std::atomic<bool> stop{false};
    std::mutex lock;
    std::condition_variable done;
    std::size_t next = 0;                          // the next run to start
    std::size_t finished = 0;                      // threads that have ended
    std::vector<std::optional<TTuneRun>> runs;     // finished runs, by plan index
    std::vector<std::unique_ptr<TNeuralNet>> nets; // their best weights
};

// One run: a network of the setting from the seed, trained until a stop rule
// says so, its best epoch's weights kept.
void TrainOne(TTuneShared& shared, std::size_t index, PatternRing& ring)
{
    const TTunePlan& plan = *shared.plan;
    const std::size_t settingIndex = index / plan.seeds.size();
    const TTuneSetting& setting = plan.settings[settingIndex];
    const auto started = std::chrono::steady_clock::now();
    TTuneRun run;
    run.setting = settingIndex;
    run.seed = plan.seeds[index % plan.seeds.size()];
    std::unique_ptr<TNeuralNet> net =
        NewPatternNetwork({ring.GetDimension(), setting.hidden, shared.classes}, run.seed);
    TRunSettings settings;
    settings.step.learningRate = setting.rate;
    settings.step.momentum = setting.momentum;
    settings.maxEpochs = plan.maxEpochs;
    settings.patience = plan.patience;
    settings.keepGoing = true;
    TDetachedRun training(*net, ring, settings, shared.heldOut);
    for (;;) {
        const TRunEpoch& epoch = training.Epoch();
        if (epoch.stop != TRunStop::None)
            break;
        if (shared.stop.load()) {
            run.cut = true;
            break;
        }
    }
    run.epochs = training.Last().epoch;
    training.Finish();
    run.right = training.Rules().BestRight();
    run.bestEpoch = training.Rules().BestEpoch();
    run.lastBestEpoch = training.Rules().LastBestEpoch();
    run.total = training.Last().heldOutTotal;
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    const std::lock_guard<std::mutex> guard(shared.lock);
    shared.runs[index] = run;
    shared.nets[index] = std::move(net);
    shared.done.notify_all();
}

void TrainRuns(TTuneShared& shared)
{
    PatternRing ring; // each thread moves a cursor of its own
    try {
        CopyRing(*shared.train, ring);
    } catch (const std::exception&) {
        shared.stop.store(true);
        return;
    }
    for (;;) {
        std::size_t index = 0;
        {
            const std::lock_guard<std::mutex> guard(shared.lock);
            if (shared.stop.load() || shared.next >= shared.runs.size())
                return;
            index = shared.next++;
        }
        try {
            TrainOne(shared, index, ring);
        } catch (const std::exception&) {
            // Out of memory, most likely: the search stops with what it has.
            shared.stop.store(true);
            return;
        }
    }
}

// One thread of the search: runs until none is left or the search stops.
void Worker(TTuneShared& shared)
{
    TrainRuns(shared);
    const std::lock_guard<std::mutex> guard(shared.lock);
    ++shared.finished;
    shared.done.notify_all();
}

TTuneRow MakeRow(const TTunePlan& plan, std::size_t setting, std::vector<TTuneRun> runs)
{
    TTuneRow row;
    row.setting = setting;
    row.values = plan.settings[setting];
    row.runs = std::move(runs);
    const double n = static_cast<double>(row.runs.size());
    for (const TTuneRun& r : row.runs) {
        row.mean += r.total > 0 ? static_cast<double>(r.right) / static_cast<double>(r.total) : 0.0;
        row.epochs += static_cast<double>(r.epochs);
        row.seconds += r.seconds;
    }
    row.mean /= n;
    row.epochs /= n;
    for (const TTuneRun& r : row.runs) {
        const double a = r.total > 0 ? static_cast<double>(r.right) / static_cast<double>(r.total) : 0.0;
        row.spread += (a - row.mean) * (a - row.mean);
    }
    row.spread = std::sqrt(row.spread / n);
    return row;
}

} // namespace

TTuneResult RunTuning(const PatternRing& train, const THeldOutSet& heldOut, std::uint32_t classes,
                      const TTunePlan& plan, unsigned jobs, const std::function<void(const TTuneRow&)>& onRow,
                      const std::function<bool()>& stop)
{
    TTuneShared shared;
    shared.train = &train;
    shared.heldOut = &heldOut;
    shared.classes = classes;
    shared.plan = &plan;
    const std::size_t total = plan.settings.size() * plan.seeds.size();
    shared.runs.resize(total);
    shared.nets.resize(total);
    // A stop asked before the start cuts every run after its first epoch,
    // however fast the runs would end by themselves.
    if (stop && stop())
        shared.stop.store(true);
    std::vector<std::thread> threads;
    for (unsigned k = 0; k < std::max(jobs, 1u) && k < total; ++k)
        threads.emplace_back(Worker, std::ref(shared));

    TTuneResult result;
    const std::size_t perRow = plan.seeds.size();
    std::size_t shown = 0; // rows told so far
    const auto tellReady = [&](bool all) {
        // Called with the lock held: the rows whose runs are all done, in order.
        while (shown < plan.settings.size()) {
            std::vector<TTuneRun> runs;
            for (std::size_t k = 0; k < perRow; ++k)
                if (shared.runs[shown * perRow + k])
                    runs.push_back(*shared.runs[shown * perRow + k]);
            if (runs.empty() || (!all && runs.size() < perRow))
                return;
            result.rows.push_back(MakeRow(plan, shown, std::move(runs)));
            if (onRow)
                onRow(result.rows.back());
            ++shown;
        }
    };
    {
        std::unique_lock<std::mutex> guard(shared.lock);
        while (shared.finished < threads.size()) {
            tellReady(false);
            if (!shared.stop.load() && stop && stop())
                shared.stop.store(true); // every run stops after its epoch
            shared.done.wait_for(guard, std::chrono::milliseconds(100));
        }
        tellReady(true);
    }
    for (std::thread& t : threads)
        t.join();
    result.cut = shown < plan.settings.size() ||
                 std::any_of(result.rows.begin(), result.rows.end(), [&](const TTuneRow& row) {
                     return row.runs.size() < perRow ||
                            std::any_of(row.runs.begin(), row.runs.end(), [](const TTuneRun& r) { return r.cut; });
                 });

    // The best mean (the first of equal means); in it, the best run (the first of equal counts).
    for (std::size_t k = 0; k < result.rows.size(); ++k)
        if (!result.best || result.rows[k].mean > result.rows[*result.best].mean)
            result.best = k;
    if (result.best) {
        const TTuneRow& row = result.rows[*result.best];
        const TTuneRun* bestRun = nullptr;
        for (const TTuneRun& r : row.runs)
            if (!bestRun || r.right > bestRun->right)
                bestRun = &r;
        result.bestSeed = bestRun->seed;
        result.bestEpoch = bestRun->bestEpoch;
        result.lastBestEpoch = bestRun->lastBestEpoch;
        for (std::size_t k = 0; k < perRow; ++k) {
            const std::size_t index = row.setting * perRow + k;
            if (shared.runs[index] && shared.runs[index]->seed == bestRun->seed)
                result.bestNet = std::move(shared.nets[index]);
        }
    }
    return result;
}

std::unique_ptr<TNeuralNet> RefitBest(const PatternRing& all, std::uint32_t classes, const TTuneSetting& setting,
                                      std::uint64_t seed, std::uint64_t epochs, const std::function<bool()>& stop)
{
    PatternRing ring;
    CopyRing(all, ring);
    std::unique_ptr<TNeuralNet> net = NewPatternNetwork({ring.GetDimension(), setting.hidden, classes}, seed);
    TRunSettings settings;
    settings.step.learningRate = setting.rate;
    settings.step.momentum = setting.momentum;
    settings.maxEpochs = std::max<std::uint64_t>(epochs, 1);
    settings.keepGoing = true;
    TDetachedRun run(*net, ring, settings);
    while (run.Epoch().stop == TRunStop::None)
        if (stop && stop())
            break;
    return net;
}

TTuneSearch::TTuneSearch(const PatternRing& all, const std::vector<std::string>& names, std::uint32_t classes,
                         double holdOut, std::uint64_t seed, const THeldOutSet* validation)
    : classes_(classes)
{
    if (validation) {
        CopyRing(all, train_);
        check_ = validation;
    } else {
        CopyRing(all, all_); // the refit trains on the whole sequence
        SplitHeldOut(all, holdOut, seed, train_, ownCheck_.file.sequence);
        ownCheck_.file.names = names;
        OwnClassesHeldOut(classes, ownCheck_);
        check_ = &ownCheck_;
        if (ownCheck_.file.sequence.GetCount() == 0)
            refusal_ = "в последовательности слишком мало элементов, чтобы отложить часть для проверки (нужно "
                       "хотя бы два элемента в классе)";
    }
    plan_ = PlanTuning(train_.GetCount(), train_.GetDimension(), seed);
}

const TTuneResult& TTuneSearch::Run(unsigned jobs, const std::function<void(const TTuneRow&)>& onRow,
                                    const std::function<bool()>& stop)
{
    result_ = RunTuning(train_, *check_, classes_, plan_, jobs, onRow, stop);
    refitted_ = false;
    network_.reset();
    if (!result_.best || !result_.bestNet)
        return result_;
    if (check_ == &ownCheck_ && !result_.cut) {
        // The part set aside goes back into training.
        network_ = RefitBest(all_, classes_, result_.rows[*result_.best].values, result_.bestSeed,
                             result_.lastBestEpoch, stop);
        refitted_ = !(stop && stop());
        result_.cut = !refitted_;
    }
    if (!refitted_) {
        network_ = std::make_unique<TNeuralNet>(*result_.bestNet);
    }
    return result_;
}
