#include "platform/events.h"

#include <utility>
#include <vector>

namespace platform {

namespace {

struct Sink {
    int id;
    EventSink sink;
};

// Sinks in the order they were added; ids grow from 1.
std::vector<Sink>& sinks() {
    static std::vector<Sink> s_sinks;
    return s_sinks;
}
int s_next_id = 1;

} // namespace

const char* event_kind_name(EventKind kind) {
    switch (kind) {
    case EventKind::Broadcast:
        return "broadcast";
    case EventKind::Box:
        return "messagebox";
    case EventKind::Beep:
        return "beep";
    case EventKind::Debug:
        return "debug";
    case EventKind::Window:
        return "window";
    case EventKind::Gamma:
        return "gamma";
    case EventKind::Tv:
        return "tv";
    case EventKind::Exit:
        return "exit";
    case EventKind::Registry:
        return "registry";
    }
    return "unknown";
}

int add_event_sink(EventSink sink) {
    int id = s_next_id++;
    sinks().push_back({id, std::move(sink)});
    return id;
}

void remove_event_sink(int id) {
    auto& all = sinks();
    std::erase_if(all, [id](const Sink& s) { return s.id == id; });
}

void emit(const Event& event) {
    // Copy first: a sink may add or remove sinks while it runs.
    auto all = sinks();
    for (auto& s : all)
        s.sink(event);
}

} // namespace platform
