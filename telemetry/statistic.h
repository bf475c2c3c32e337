// The statistics reporter: fire-and-forget usage events. Each report expands
// an address template and requests it with a plain HTTP GET on its own
// short-lived thread; nothing is queued, retried or persisted, and the caller
// never learns the outcome. Nothing is logged.
//
// The entry point calls Init before the first window and Shutdown at the end;
// MainControl gives the channel with
//   CZovStatisticImpl::GetInstance()->SetChannel(config->channel);
// Callers report with telemetry::ReportEvent(L"action").
#pragma once

#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "base/lock.h"

class CSimpleThread;

class CZovStatisticImpl {
 public:
  // The process-wide reporter, created on first use under a global lock and
  // never destroyed. Safe from any thread.
  static CZovStatisticImpl* GetInstance();

  // Initialises once; a second call returns true. A negative |product_index|
  // leaves the reporter uninitialised and returns false. Null texts mean "not
  // given". Computes the machine identifiers (may take a moment the first time).
  bool Init(int product_index, const wchar_t* default_type, const wchar_t* default_template);
  // The value for "{pid}" from now on.
  void SetChannel(const std::wstring& channel);
  // Expands |url_template| (the default template when null) for |action| and
  // sends it on a new thread. Dropped while uninitialised or without an action.
  // Never blocks on the network.
  void Report(const wchar_t* action, const wchar_t* type = nullptr, const wchar_t* url_template = nullptr);
  // Stops reporting: nothing new is sent from now on. Reports already under way
  // are given up to kShutdownWaitMs in all to finish, because the process
  // usually ends right after this call.
  void Shutdown();

  static constexpr unsigned kShutdownWaitMs = 3000;

  bool initialized() const;
  std::wstring mid() const;
  std::wstring mid2() const;
  std::wstring channel() const;
  int sample_threshold() const;

 private:
  friend class CSimpleThread;
  CZovStatisticImpl() = default;
  void StartWorker(const std::wstring& url);
  void WorkerFinished();

  // Guards Init as a whole.
  _BaseModule::CCriticalSection lock_;
  // Guards the fields below and the count of reports under way.
  mutable std::mutex state_mutex_;
  std::condition_variable idle_;
  bool initialized_ = false;
  int product_index_ = -1;
  std::wstring default_type_;
  std::wstring default_template_;
  std::wstring mid_, mid2_, channel_, app_, appver_, modver_;
  int sample_threshold_ = 0;
  int in_flight_ = 0;
};

namespace telemetry {

// Reports |action| with the packaged game's statistics address and no type.
void ReportEvent(const wchar_t* action);

// ---- rules, free of the system ----

struct TemplateValues {
  std::wstring type, action, appver, modver, mid, mid2, pid, app;
};
// Replaces, in this order, every "{type}", "{action}", "{appver}", "{modver}",
// "{mid}", "{mid2}", "{pid}" and "{app}" by its value, unencoded. A placeholder
// whose first occurrence is at the very start of the text is left alone.
std::wstring ExpandTemplate(const std::wstring& url_template, const TemplateValues& values);

// Sampling: an event at |percent| is dropped when percent < |threshold|;
// below 100 the action is sent as "<percent>per_<action>". False when dropped.
bool SampleAction(int percent, int threshold, const std::wstring& action, std::wstring* sent);

// A stored "stat_rand" counts only within 1..100; anything else is redrawn.
bool IsValidSampleThreshold(int value);

// What a report worker needs from the system, so its order (connectivity
// first, then the request) can be checked without a network.
class ReportTransport {
 public:
  virtual ~ReportTransport() = default;
  // The system's connected state (modem, LAN or proxy).
  virtual bool IsConnected() = 0;
  // Gateway addresses of the network adapters (as listed, possibly "0.0.0.0").
  virtual std::vector<std::string> GatewayAddresses() = 0;
  virtual void Fetch(const std::wstring& url) = 0;
};

// True when any gateway address is a real one.
bool AnyGateway(const std::vector<std::string>& gateways);
// The worker's body: fetches |url| only when the machine counts as online.
void SendReport(const std::wstring& url, ReportTransport& transport);

}  // namespace telemetry
