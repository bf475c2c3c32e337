#include "telemetry/statistic.h"

#include <windows.h>
#include <iphlpapi.h>
#include <objbase.h>
#include <urlmon.h>
#include <wininet.h>

#include <chrono>
#include <cstdlib>

#include "base/scoped_handle.h"
#include "base/string_util.h"
#include "telemetry/machine_id.h"
#include "telemetry/product_info.h"
#include "telemetry/product_tables.h"
#include "telemetry/statistic_url.h"

namespace {

// The identifiers are read into buffers of this many characters.
constexpr int kIdBufferChars = 260;
// Every report the client makes is sent at this sample percentage.
constexpr int kReportPercent = 100;
// First size asked for when listing the adapters.
constexpr ULONG kAdapterListFirstSize = 648;

constexpr wchar_t kSettingsSection[] = L"statistic";
constexpr wchar_t kSettingsKey[] = L"stat_rand";

_BaseModule::CCriticalSection g_create_lock;
CZovStatisticImpl* g_instance = nullptr;

std::wstring ExecutablePath() {
  wchar_t path[MAX_PATH] = {};
  const DWORD n = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  return (n == 0 || n >= MAX_PATH) ? std::wstring() : std::wstring(path, n);
}

// Kept for the life of the installation in the product's settings file; drawn
// anew at every start when the file cannot be written.
int LoadSampleThreshold() {
  const std::wstring settings = GetSettingsFile(0);
  int value = 0;
  if (!settings.empty()) {
    value = static_cast<int>(::GetPrivateProfileIntW(kSettingsSection, kSettingsKey, 0, settings.c_str()));
  }
  if (telemetry::IsValidSampleThreshold(value)) return value;
  std::srand(::GetTickCount());
  value = std::rand() % 100 + 1;
  if (!settings.empty()) {
    ::WritePrivateProfileStringW(kSettingsSection, kSettingsKey, base::StrPrintf(L"%d", value).c_str(),
                                 settings.c_str());
  }
  return value;
}

// COM for the URL moniker on the worker thread.
class ScopedCom {
 public:
  ScopedCom() : initialized_(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {}
  ~ScopedCom() {
    if (initialized_) ::CoUninitialize();
  }
  ScopedCom(const ScopedCom&) = delete;
  ScopedCom& operator=(const ScopedCom&) = delete;

 private:
  bool initialized_;
};

class SystemTransport final : public telemetry::ReportTransport {
 public:
  bool IsConnected() override {
    DWORD flags = 0;
    return ::InternetGetConnectedState(&flags, 0) &&
           (flags & (INTERNET_CONNECTION_MODEM | INTERNET_CONNECTION_LAN | INTERNET_CONNECTION_PROXY)) != 0;
  }

  std::vector<std::string> GatewayAddresses() override {
    std::vector<std::string> gateways;
    ULONG size = kAdapterListFirstSize;
    std::vector<unsigned char> buffer(size);
    DWORD result = ::GetAdaptersInfo(reinterpret_cast<IP_ADAPTER_INFO*>(buffer.data()), &size);
    if (result == ERROR_BUFFER_OVERFLOW) {
      buffer.resize(size);
      result = ::GetAdaptersInfo(reinterpret_cast<IP_ADAPTER_INFO*>(buffer.data()), &size);
    }
    if (result != ERROR_SUCCESS) return gateways;
    for (auto* adapter = reinterpret_cast<const IP_ADAPTER_INFO*>(buffer.data()); adapter; adapter = adapter->Next) {
      for (const IP_ADDR_STRING* gateway = &adapter->GatewayList; gateway; gateway = gateway->Next) {
        gateways.emplace_back(gateway->IpAddress.String);
      }
    }
    return gateways;
  }

  // The GET goes through the system URL moniker with the system's Internet
  // settings into the browser cache, and the cached copy is deleted. Some
  // moniker implementations cannot name a cache file for a path without an
  // extension (such as "/wan") and fail before sending anything; the request
  // is then made as a blocking stream, which sends the same GET.
  void Fetch(const std::wstring& url) override {
    ScopedCom com;
    wchar_t cache_file[MAX_PATH] = {};
    if (SUCCEEDED(::URLDownloadToCacheFileW(nullptr, url.c_str(), cache_file, MAX_PATH, 0, nullptr))) {
      if (cache_file[0]) ::DeleteFileW(cache_file);
      return;
    }
    base::ComPtr<IStream> stream;
    if (FAILED(::URLOpenBlockingStreamW(nullptr, url.c_str(), stream.Receive(), 0, nullptr)) || !stream) return;
    char sink[4096];
    ULONG read = 0;
    while (stream->Read(sink, sizeof(sink), &read) == S_OK && read > 0) {
    }
  }
};

struct WorkerStart {
  CZovStatisticImpl* owner;
  std::wstring url;
};

}  // namespace

// One detached thread per report: it owns its copy of the address.
class CSimpleThread {
 public:
  // False when the thread could not be started; |start| is then freed.
  static bool Start(WorkerStart* start) {
    base::ScopedKernelHandle thread(::CreateThread(nullptr, 0, &CSimpleThread::Main, start, 0, nullptr));
    if (!thread.IsValid()) {
      delete start;
      return false;
    }
    return true;  // the handle is closed at once; nobody waits for the thread
  }

 private:
  static DWORD WINAPI Main(void* argument);
};

// ---- CZovStatisticImpl -------------------------------------------------------

CZovStatisticImpl* CZovStatisticImpl::GetInstance() {
  _BaseModule::CAutoLocker guard(g_create_lock);
  if (!g_instance) g_instance = new CZovStatisticImpl();
  return g_instance;
}

bool CZovStatisticImpl::Init(int product_index, const wchar_t* default_type, const wchar_t* default_template) {
  _BaseModule::CAutoLocker guard(lock_);
  {
    std::lock_guard<std::mutex> state(state_mutex_);
    if (initialized_) return true;
    product_index_ = product_index;
    if (product_index < 0) return false;
  }
  const telemetry::ProductRow* row = telemetry::FindProduct(product_index);
  std::wstring type, url_template;
  if (default_type) type = default_type;
  if (default_template) {
    url_template = default_template;
  } else if (row) {
    url_template = row->default_template;
  }

  // Identity fields are filled once; later Init calls keep them.
  std::wstring mid, mid2, app, appver, channel, modver;
  {
    std::lock_guard<std::mutex> state(state_mutex_);
    mid = mid_, mid2 = mid2_, app = app_, appver = appver_, channel = channel_, modver = modver_;
  }
  wchar_t buffer[kIdBufferChars];
  if (mid.empty() && GetMid(buffer, kIdBufferChars)) mid = buffer;
  if (mid2.empty() && SUCCEEDED(GetMid2(buffer, kIdBufferChars))) mid2 = buffer;
  if (app.empty() && row) app = row->app_name;
  if (appver.empty()) appver = GetAppVersion(0);
  if (channel.empty()) channel = GetDefaultChannel(0);
  if (modver.empty()) GetFileVersion(ExecutablePath(), &modver);
  const int threshold = LoadSampleThreshold();

  std::lock_guard<std::mutex> state(state_mutex_);
  if (default_type) default_type_ = type;
  if (default_template || row) default_template_ = url_template;
  mid_ = mid, mid2_ = mid2, app_ = app, appver_ = appver, modver_ = modver;
  if (channel_.empty()) channel_ = channel;
  sample_threshold_ = threshold;
  initialized_ = true;
  return true;
}

void CZovStatisticImpl::SetChannel(const std::wstring& channel) {
  std::lock_guard<std::mutex> state(state_mutex_);
  channel_ = channel;
}

void CZovStatisticImpl::Report(const wchar_t* action, const wchar_t* type, const wchar_t* url_template) {
  if (!action || !*action) return;
  std::wstring url;
  {
    std::lock_guard<std::mutex> state(state_mutex_);
    if (!initialized_) return;
    telemetry::TemplateValues values;
    if (!telemetry::SampleAction(kReportPercent, sample_threshold_, action, &values.action)) return;
    const std::wstring chosen = url_template ? std::wstring(url_template) : default_template_;
    if (chosen.empty()) return;
    values.type = (type && *type) ? std::wstring(type) : default_type_;
    values.appver = appver_;
    values.modver = modver_;
    values.mid = mid_;
    values.mid2 = mid2_;
    values.pid = channel_;
    values.app = app_;
    url = telemetry::ExpandTemplate(chosen, values);
    ++in_flight_;  // counted before Shutdown can see the reporter idle
  }
  StartWorker(url);
}

void CZovStatisticImpl::StartWorker(const std::wstring& url) {
  if (!CSimpleThread::Start(new WorkerStart{this, url})) WorkerFinished();  // the event is lost
}

void CZovStatisticImpl::WorkerFinished() {
  std::lock_guard<std::mutex> state(state_mutex_);
  --in_flight_;
  idle_.notify_all();
}

void CZovStatisticImpl::Shutdown() {
  std::unique_lock<std::mutex> state(state_mutex_);
  initialized_ = false;
  idle_.wait_for(state, std::chrono::milliseconds(kShutdownWaitMs), [this] { return in_flight_ == 0; });
}

bool CZovStatisticImpl::initialized() const {
  std::lock_guard<std::mutex> state(state_mutex_);
  return initialized_;
}
std::wstring CZovStatisticImpl::mid() const {
  std::lock_guard<std::mutex> state(state_mutex_);
  return mid_;
}
std::wstring CZovStatisticImpl::mid2() const {
  std::lock_guard<std::mutex> state(state_mutex_);
  return mid2_;
}
std::wstring CZovStatisticImpl::channel() const {
  std::lock_guard<std::mutex> state(state_mutex_);
  return channel_;
}
int CZovStatisticImpl::sample_threshold() const {
  std::lock_guard<std::mutex> state(state_mutex_);
  return sample_threshold_;
}

DWORD WINAPI CSimpleThread::Main(void* argument) {
  WorkerStart* start = static_cast<WorkerStart*>(argument);
  {
    SystemTransport transport;
    telemetry::SendReport(start->url, transport);
  }
  CZovStatisticImpl* owner = start->owner;
  delete start;
  owner->WorkerFinished();
  return 0;
}

// ---- rules -------------------------------------------------------------------

namespace telemetry {

void ReportEvent(const wchar_t* action) {
  CZovStatisticImpl::GetInstance()->Report(action, nullptr, kStatisticsUrlTemplate);
}

std::wstring ExpandTemplate(const std::wstring& url_template, const TemplateValues& values) {
  const std::pair<const wchar_t*, const std::wstring*> kPlaceholders[] = {
      {L"{type}", &values.type}, {L"{action}", &values.action}, {L"{appver}", &values.appver},
      {L"{modver}", &values.modver}, {L"{mid}", &values.mid},    {L"{mid2}", &values.mid2},
      {L"{pid}", &values.pid},       {L"{app}", &values.app},
  };
  std::wstring text = url_template;
  for (const auto& [name, value] : kPlaceholders) {
    const std::wstring placeholder = name;
    size_t pos = text.find(placeholder);
    // A placeholder that opens the text is never replaced.
    if (pos == std::wstring::npos || pos == 0) continue;
    while (pos != std::wstring::npos) {
      text.replace(pos, placeholder.size(), *value);
      pos = text.find(placeholder, pos + value->size());
    }
  }
  return text;
}

bool SampleAction(int percent, int threshold, const std::wstring& action, std::wstring* sent) {
  if (percent < threshold) return false;
  *sent = percent == 100 ? action : base::StrPrintf(L"%dper_%ls", percent, action.c_str());
  return true;
}

bool IsValidSampleThreshold(int value) { return value >= 1 && value <= 100; }

bool AnyGateway(const std::vector<std::string>& gateways) {
  for (const std::string& gateway : gateways) {
    if (!gateway.empty() && gateway != "0.0.0.0") return true;
  }
  return false;
}

void SendReport(const std::wstring& url, ReportTransport& transport) {
  if (!transport.IsConnected() && !AnyGateway(transport.GatewayAddresses())) return;
  transport.Fetch(url);
}

}  // namespace telemetry
