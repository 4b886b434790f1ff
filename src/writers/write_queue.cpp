#include "writers/write_queue.h"

#include <cstdlib>
#include <deque>
#include <utility>
#include <vector>

#include "common/platform.h"

// Every field but sink and thread is the lock's.
struct write_queue {
    stream_sink* sink = nullptr;
    worker* thread = nullptr;
    handoff* lock = nullptr;
    std::deque<out_packet> waiting;  // the first one is being written
    std::vector<out_packet> spare;   // written, kept for their capacity
    size_t bytes = 0;                // of those waiting
    uint64_t pushed = 0, written = 0;
    bool failed = false, closing = false;
};

namespace {

// How often a waiting main thread looks at the interrupt flag.
constexpr int WAIT_STEP_MS = 50;

// The queue an error's exit drains; one at a time.
write_queue* drained_on_exit = nullptr;

void swap_packets(out_packet& a, out_packet& b)
{
    // Swapping keeps each owned string where it is: the chunks that point
    // into it stay true.
    a.chunks.swap(b.chunks);
    a.owned.swap(b.owned);
    std::swap(a.size, b.size);
}

void write_packets(void* arg)
{
    write_queue& q = *static_cast<write_queue*>(arg);
    handoff_lock(q.lock);
    for (;;) {
        while (q.waiting.empty() && !q.closing)
            handoff_wait(q.lock, 1000);
        if (q.waiting.empty())
            break;
        out_packet& packet = q.waiting.front();  // stays put while later ones join behind it
        handoff_unlock(q.lock);
        const bool ok = write_packet(*q.sink, packet);
        handoff_lock(q.lock);
        q.bytes -= packet.size;
        packet_clear(packet);
        q.spare.emplace_back();
        swap_packets(q.spare.back(), packet);
        q.waiting.pop_front();
        if (!ok) {
            q.failed = true;
            q.bytes = 0;
            q.waiting.clear();
        } else {
            ++q.written;
        }
        handoff_wake(q.lock);
        if (!ok)
            break;
    }
    handoff_unlock(q.lock);
}

// With the lock held: waits a step, and where the tool was interrupted
// tells the thread, whose write a reader may be holding up.
void wait_a_step(write_queue& q)
{
    if (interrupt_requested())
        worker_nudge(q.thread);
    handoff_wait(q.lock, WAIT_STEP_MS);
}

bool drain(write_queue& q)
{
    handoff_lock(q.lock);
    q.closing = true;
    handoff_wake(q.lock);
    while (!q.waiting.empty() && !q.failed)
        wait_a_step(q);
    const bool ok = !q.failed;
    handoff_unlock(q.lock);
    return ok;
}

void drain_on_exit()
{
    if (drained_on_exit && drained_on_exit->thread)
        drain(*drained_on_exit);
}

}  // namespace

write_queue* write_queue_start(stream_sink& sink)
{
    write_queue* q = new write_queue;
    q->sink = &sink;
    q->lock = handoff_create();
    q->thread = worker_start(write_packets, q);
    // Registered after the sink's own handler, so run before it: the
    // program is waited for once it has all the bytes.
    static bool registered = false;
    if (!registered)
        registered = atexit(drain_on_exit) == 0;
    drained_on_exit = q;
    return q;
}

bool write_queue_push(write_queue* queue, out_packet& packet)
{
    write_queue& q = *queue;
    if (!q.thread) {
        q.failed = q.failed || !write_packet(*q.sink, packet);
        ++q.pushed;
        q.written += q.failed ? 0 : 1;
        packet_clear(packet);
        return !q.failed;
    }
    handoff_lock(q.lock);
    while (!q.failed && !q.waiting.empty() &&
           (q.waiting.size() >= QUEUE_MOST_PACKETS || q.bytes + packet.size > QUEUE_MOST_BYTES))
        wait_a_step(q);
    const bool ok = !q.failed;
    if (ok) {
        q.waiting.emplace_back();
        if (!q.spare.empty()) {
            swap_packets(q.waiting.back(), q.spare.back());
            q.spare.pop_back();
        }
        swap_packets(q.waiting.back(), packet);
        q.bytes += q.waiting.back().size;
        ++q.pushed;
        handoff_wake(q.lock);
    }
    handoff_unlock(q.lock);
    packet_clear(packet);
    return ok;
}

uint64_t write_queue_pushed(write_queue* queue)
{
    return queue->pushed;  // the pushing thread's own count
}

uint64_t write_queue_written(write_queue* queue)
{
    handoff_lock(queue->lock);
    const uint64_t written = queue->written;
    handoff_unlock(queue->lock);
    return written;
}

bool write_queue_finish(write_queue* queue, uint64_t* written)
{
    write_queue& q = *queue;
    bool ok = !q.failed;
    if (q.thread) {
        ok = drain(q);
        worker_join(q.thread);
        q.thread = nullptr;
    }
    *written = q.written;
    if (drained_on_exit == queue)
        drained_on_exit = nullptr;
    handoff_destroy(q.lock);
    delete queue;
    return ok;
}
