// The live view as a sink of the writer thread: rows, gaps and stretches at a limit into the view's
// envelope.
#pragma once

#include <memory>

#include "sink.h"
#include "view_envelope.h"

namespace qlog {

class ViewSink : public Sink {
public:
    explicit ViewSink(std::shared_ptr<ViewEnvelope> envelope) : envelope_(std::move(envelope)) {}
    bool begin() override { return true; }
    void rows(const RowBlock& block) override { envelope_->add(block); }
    void gap(const GapRecord& gap) override { envelope_->addGap(gap); }
    void limit(const LimitChange& change) override { envelope_->addLimit(change); }
    void alarm(const AlarmEvent& event) override { envelope_->addAlarm(event); }
    void end(const RunTotals&) override { envelope_->end(); }

private:
    std::shared_ptr<ViewEnvelope> envelope_;
};

}  // namespace qlog
