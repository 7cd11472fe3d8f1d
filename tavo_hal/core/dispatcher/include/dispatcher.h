// Switchboard between the bus and the codecs. Upward it merges the bus
// feedback queues into one, names each frame's module by CAN identifier and
// hands frame and name to the CodecSet; downward it is the codecs' serial
// publish callback and puts every frame they build into the bus control queue.
//
// Wiring (all before start(), nothing of it is locked): addFeedbackInputQueue,
// setControlQueue, setCodecSet; then start() and RegisterControlCallback().
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "MAP_MODULE.h"
#include "codecs.h"
#include "communication_struct.h"
#include "drop_episode.h"
#include "frame_signal.h"

class Dispatcher {
 public:
  Dispatcher();
  // Stops a running dispatcher as stop() does.
  ~Dispatcher();
  Dispatcher(const Dispatcher&) = delete;
  Dispatcher& operator=(const Dispatcher&) = delete;

  // Empty pointers are ignored; the setters keep the earlier setting.
  void addFeedbackInputQueue(std::shared_ptr<FrameQueue> queue);
  void setControlQueue(std::shared_ptr<FrameQueue> queue);
  void setCodecSet(std::shared_ptr<CodecSet> codecSet);

  // Starts combine_thread and dispatch_thread; does nothing while running.
  void start();
  // Wakes and joins both threads; does nothing (and prints nothing) unless running.
  void stop();

  // Makes this dispatcher the serial publish callback of every codec in the
  // codec set. The callback stops forwarding once the dispatcher is destroyed.
  void RegisterControlCallback();
  // Queues the frame for the bus; dropped while no control queue is set.
  void pushControlPacket(std::shared_ptr<CAN_frame> frame);

  // Feedback frames that waited longer than this in the merged queue are
  // dropped, not dispatched: by then each stream's own bound (feedback_bound.h)
  // would drop them anyway, and a fault report that late describes a body that
  // is no longer there. The same bound as for commands, so the merged queue
  // never holds more than 100 ms of what the bus carries.
  static constexpr std::chrono::milliseconds kFeedbackMaxWait{100};
  // Another bound, for tests and benchmarks of pacing (the drop line names 100 ms); before start().
  void setFeedbackMaxWait(std::chrono::nanoseconds bound) { feedback_max_wait_ = bound; }
  // Feedback frames dropped for the bound since start; any thread.
  uint64_t staleFeedbackDropped() const { return stale_dropped_.load(std::memory_order_relaxed); }

  // Thread bodies, run by start().
  void CombineFeedbackQueues();
  void startDispatch();

 private:
  friend class DispatcherInspector;  // tests read the identifier table

  // What the codecs' callback holds instead of the dispatcher itself: the
  // destructor clears `target` (waiting for calls in flight), so a codec that
  // outlives its dispatcher drops frames instead of calling into freed memory.
  struct ControlLink {
    std::shared_mutex mutex;
    Dispatcher* target = nullptr;
  };

  void unifiedcallback(const std::shared_ptr<CAN_frame>& frame);
  std::string getModuleFromCANID(uint32_t can_id) const;
  void DispatchToProtocol(std::shared_ptr<CAN_frame> frame);

  // A frame in the merged queue, with when the combine thread moved it there.
  struct Merged {
    std::shared_ptr<CAN_frame> frame;
    std::chrono::steady_clock::time_point moved;
  };

  std::shared_ptr<FrameQueue> control_queue_;
  std::vector<std::shared_ptr<FrameQueue>> input_queues_;
  std::shared_ptr<moodycamel::ConcurrentQueue<Merged>> final_input_queue_;
  std::shared_ptr<ModuleManager> module_manager_;
  std::shared_ptr<CodecSet> codecSet_;
  std::atomic<bool> running_;
  std::thread combine_thread_;
  std::thread dispatch_thread_;
  std::unordered_map<uint32_t, std::string> canIDToDevice;
  std::mutex data_mutex;
  std::condition_variable data_condition_;
  std::shared_ptr<ControlLink> control_link_;
  // The combine thread sleeps on it; every input queue's signal rings it.
  std::shared_ptr<Wakeup> combine_wakeup_;
  // The control queue with its signal, which wakes the bus writer.
  FrameSink control_sink_;
  std::chrono::nanoseconds feedback_max_wait_ = kFeedbackMaxWait;
  std::atomic<uint64_t> stale_dropped_{0};
  DropEpisode stale_episode_;  // dispatch thread only
};
