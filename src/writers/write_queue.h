// Packets written to the sink on a thread of their own, so that the next
// frame is fetched while the last one is written: a pipeline then runs at
// the speed of its slower part, the script or the reader, rather than at
// the sum of the two. The queue holds at most QUEUE_MOST_PACKETS packets
// or QUEUE_MOST_BYTES bytes, whichever is less (one packet always goes, be
// it larger); the bytes a packet points to must stay where they are until
// write_queue_written counts it. The packets reach the sink whole and in
// order, exactly as written one after another.
#pragma once

#include <cstddef>
#include <cstdint>

#include "writers/format.h"
#include "writers/sink.h"

constexpr size_t QUEUE_MOST_PACKETS = 8;
constexpr size_t QUEUE_MOST_BYTES = size_t{64} << 20;

struct write_queue;

// Starts writing to the open sink. Where the system cannot start a thread,
// each packet is written as it is handed over. Until write_queue_finish,
// an error that ends the process first lets the packets already handed
// over reach the sink, so that what the sink holds ends where a packet
// ends, as it would without the queue.
write_queue* write_queue_start(stream_sink& sink);

// Hands the packet over; it comes back empty. Waits while the queue is
// full. False once a write has failed: this packet and the later ones are
// dropped.
bool write_queue_push(write_queue* queue, out_packet& packet);

// The packets handed over so far, and those of them written whole.
uint64_t write_queue_pushed(write_queue* queue);
uint64_t write_queue_written(write_queue* queue);

// Waits until every packet handed over is written or a write has failed,
// ends the thread and frees the queue; false in the second case. Puts the
// packets written whole in written.
bool write_queue_finish(write_queue* queue, uint64_t* written);
