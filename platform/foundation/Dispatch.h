#pragma once
// The main dispatch queue is the Qt main thread's event loop: blocks run there
// one at a time, in the order they were queued, interleaved in FIFO order with
// everything else queued the same way (store saves, posted notices).
#include <functional>

using dispatch_block_t = std::function<void()>;

struct DispatchQueue;
using dispatch_queue_t = DispatchQueue*;

dispatch_queue_t dispatch_get_main_queue();
void dispatch_async(dispatch_queue_t queue, dispatch_block_t block);
// Runs the block and returns when it ran; on the queue's own thread it runs at once.
void dispatch_sync(dispatch_queue_t queue, dispatch_block_t block);
void dispatch_after_seconds(double seconds, dispatch_queue_t queue, dispatch_block_t block);
bool dispatch_is_main_thread();
