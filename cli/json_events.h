// pelmark-flash --json: one JSON object per line on standard output in place
// of the text lines. The events and their fields are listed in cli/README.md
// ("JSON events") and in cli/events.schema.json.
#pragma once

#include <iosfwd>
#include <string>

#include "cli/console_display.h"
#include "cli/update_summary.h"

namespace pelmark::cli {

class JsonEvents : public EventSink {
public:
    // `port`: "COM3", in every event; `clock`: the run's seconds.
    JsonEvents(std::ostream& out, std::string port, Clock clock = SteadySeconds);

    void Text(const char* panel, const std::string& text) override;
    void Progress(int position, int min, int max, ProgressState state, double rate) override;

    void Start(const std::string& device, const char* frontEnd, const char* tag, const char* version);
    // The identity of the device the search found, once an update; the texts
    // and the progress send it on their own as soon as the search has found
    // the device.
    void Identity();
    // A new update begins: its identity is not sent yet.
    void NewUpdate() { identitySent_ = false; }
    void Waiting(const char* what);  // "device", "removal"
    void PortState(bool present);
    void Outcome(const UpdateSummary& summary, const std::string& hint, int passed, int failed);
    void End(int exitStatus, int passed, int failed);

private:
    template <typename Json>
    void Write(Json& event, const char* name);

    std::ostream& out_;
    std::string port_;
    Clock clock_;
    double start_;
    bool identitySent_ = false;
};

}  // namespace pelmark::cli
