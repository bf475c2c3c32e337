// "7z.dll": our stand-in for 7-Zip's archive library. It exports the one
// entry point the client relies on, "CreateObject", and offers the 7z format
// handler through IInArchive with the same calls, properties and callbacks as
// the real library (install/sevenzip_abi.h), so either can be dropped in.
//
// It unpacks folders made of the Copy coder with plain headers: the packing
// options are NQ_7Z_PACK_OPTIONS in this folder's CMakeLists.txt. An encoded
// header fails Open; an item in a folder with another coder is reported to
// the callback as an unsupported method. Encrypted data makes the handler ask
// the callback for a password, as the real library does, and a refusal ends
// the call with the callback's answer.
#include <windows.h>
#include <oleauto.h>

#include <algorithm>
#include <iterator>
#include <new>
#include <vector>

#include "base/scoped_handle.h"
#include "install/sevenzip_abi.h"
#include "outside/sevenzip/sevenzip_format.h"

namespace {

using base::ComPtr;
using namespace sevenzip;
namespace fmt = sevenzip_format;

// Headers this large only come from damaged or hostile files; the client's
// packages have headers of a few hundred bytes.
constexpr uint64_t kMaxHeaderSize = 64u << 20;
constexpr UINT32 kCopyChunk = 1u << 20;

HRESULT ReadFully(IInStream* stream, uint64_t offset, void* data, size_t size) {
  HRESULT hr = stream->Seek(static_cast<INT64>(offset), 0, nullptr);
  if (FAILED(hr)) return hr;
  auto* out = static_cast<uint8_t*>(data);
  while (size > 0) {
    UINT32 want = static_cast<UINT32>(std::min<size_t>(size, kCopyChunk));
    UINT32 got = 0;
    hr = stream->Read(out, want, &got);
    if (FAILED(hr)) return hr;
    if (got == 0) return S_FALSE;  // the file ends early
    out += got;
    size -= got;
  }
  return S_OK;
}

HRESULT WriteFully(ISequentialOutStream* stream, const uint8_t* data, UINT32 size) {
  while (size > 0) {
    UINT32 done = 0;
    HRESULT hr = stream->Write(data, size, &done);
    if (FAILED(hr)) return hr;
    if (done == 0) return E_FAIL;
    data += done;
    size -= done;
  }
  return S_OK;
}

// Asks |callback| for a password; the caller stops with any failure. We
// cannot decrypt, so even a given password only leads to a clean refusal.
HRESULT AskPassword(IUnknown* callback) {
  ComPtr<ICryptoGetTextPassword> ask;
  if (!callback ||
      FAILED(callback->QueryInterface(kIidCryptoGetTextPassword, ask.ReceiveVoid()))) {
    return S_OK;
  }
  BSTR password = nullptr;
  HRESULT hr = ask->CryptoGetTextPassword(&password);
  ::SysFreeString(password);
  return hr;
}

class Handler final : public IInArchive {
 public:
  // IUnknown
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    if (iid == IID_IUnknown || iid == kIidInArchive) {
      *out = static_cast<IInArchive*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ::InterlockedIncrement(&refs_); }
  ULONG STDMETHODCALLTYPE Release() override {
    ULONG left = ::InterlockedDecrement(&refs_);
    if (left == 0) delete this;
    return left;
  }

  // IInArchive
  HRESULT STDMETHODCALLTYPE Open(IInStream* stream, const UINT64*,
                                 IArchiveOpenCallback* callback) override {
    Close();
    if (!stream) return E_INVALIDARG;
    UINT64 size = 0;
    HRESULT hr = stream->Seek(0, 2, &size);
    if (FAILED(hr)) return hr;
    uint8_t first[fmt::kSignatureHeaderSize];
    if (size < sizeof(first)) return S_FALSE;
    hr = ReadFully(stream, 0, first, sizeof(first));
    if (hr != S_OK) return hr;
    fmt::StartHeader start;
    if (!fmt::ReadSignatureHeader({first, sizeof(first)}, &start)) return S_FALSE;

    fmt::Archive archive;
    uint64_t room = size - sizeof(first);
    if (start.next_header_size != 0) {
      if (start.next_header_offset > room || start.next_header_size > room - start.next_header_offset ||
          start.next_header_size > kMaxHeaderSize) {
        return S_FALSE;
      }
      std::vector<uint8_t> header(static_cast<size_t>(start.next_header_size));
      hr = ReadFully(stream, sizeof(first) + start.next_header_offset, header.data(), header.size());
      if (hr != S_OK) return hr;
      if (fmt::Crc32(header.data(), header.size()) != start.next_header_crc) return S_FALSE;
      switch (fmt::ParseHeader({header.data(), header.size()}, &archive)) {
        case fmt::ParseResult::kCorrupt:
          return S_FALSE;
        case fmt::ParseResult::kEncodedHeader:
          return RefuseEncodedHeader(archive, callback);
        case fmt::ParseResult::kOk:
          break;
      }
      uint64_t packed = archive.pack_pos;
      for (uint64_t s : archive.pack_sizes) packed += s;
      if (packed > room) return S_FALSE;
    }
    if (callback) {
      UINT64 files = archive.items.size();
      hr = callback->SetCompleted(&files, &size);
      if (FAILED(hr)) return hr;
    }
    archive_ = std::move(archive);
    stream->AddRef();
    *stream_.Receive() = stream;
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE Close() override {
    stream_.Reset();
    archive_ = fmt::Archive();
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE GetNumberOfItems(UINT32* count) override {
    if (!count) return E_POINTER;
    *count = static_cast<UINT32>(archive_.items.size());
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE GetProperty(UINT32 index, PROPID id, PROPVARIANT* value) override {
    if (!value) return E_POINTER;
    if (index >= archive_.items.size()) return E_INVALIDARG;
    ::PropVariantClear(value);
    const fmt::Item& item = archive_.items[index];
    switch (id) {
      case kpidPath:
        if (archive_.has_names) {
          // The library hands out paths in the form of the system it runs on.
          std::wstring path(item.name.begin(), item.name.end());
          std::replace(path.begin(), path.end(), L'/', L'\\');
          value->bstrVal = ::SysAllocStringLen(path.data(), static_cast<UINT>(path.size()));
          if (!value->bstrVal) return E_OUTOFMEMORY;
          value->vt = VT_BSTR;
        }
        break;
      case kpidIsDir:
        value->vt = VT_BOOL;
        value->boolVal = item.is_dir ? VARIANT_TRUE : VARIANT_FALSE;
        break;
      case kpidSize:
        value->vt = VT_UI8;
        value->uhVal.QuadPart = item.size;
        break;
      case kpidAttrib:
        if (item.attrib_defined) {
          value->vt = VT_UI4;
          value->ulVal = item.attrib;
        }
        break;
      case kpidMTime:
        if (item.mtime_defined) {
          value->vt = VT_FILETIME;
          value->filetime.dwLowDateTime = static_cast<DWORD>(item.mtime);
          value->filetime.dwHighDateTime = static_cast<DWORD>(item.mtime >> 32);
        }
        break;
      case kpidEncrypted:
        value->vt = VT_BOOL;
        value->boolVal = item.has_stream && fmt::IsEncryptedFolder(archive_.folders[item.folder])
                             ? VARIANT_TRUE
                             : VARIANT_FALSE;
        break;
      default:
        break;
    }
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE Extract(const UINT32* indices, UINT32 count, INT32 test_mode,
                                    IArchiveExtractCallback* callback) override {
    if (!callback) return E_INVALIDARG;
    std::vector<UINT32> order;
    if (count == kAllItems) {
      for (UINT32 i = 0; i < archive_.items.size(); ++i) order.push_back(i);
    } else {
      if (count > 0 && !indices) return E_INVALIDARG;
      order.assign(indices, indices + count);
      for (UINT32 i : order) {
        if (i >= archive_.items.size()) return E_INVALIDARG;
      }
    }
    UINT64 total = 0;
    for (UINT32 i : order) total += archive_.items[i].size;
    HRESULT hr = callback->SetTotal(total);
    if (FAILED(hr)) return hr;
    UINT64 done = 0;
    asked_password_ = false;
    for (UINT32 index : order) {
      hr = ExtractItem(index, test_mode != 0, callback);
      if (FAILED(hr)) return hr;
      done += archive_.items[index].size;
      hr = callback->SetCompleted(&done);
      if (FAILED(hr)) return hr;
    }
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE GetArchiveProperty(PROPID, PROPVARIANT* value) override {
    if (!value) return E_POINTER;
    ::PropVariantClear(value);
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE GetNumberOfProperties(UINT32* count) override {
    if (!count) return E_POINTER;
    *count = static_cast<UINT32>(std::size(kProperties));
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE GetPropertyInfo(UINT32 index, BSTR* name, PROPID* id,
                                            VARTYPE* type) override {
    if (index >= std::size(kProperties)) return E_INVALIDARG;
    if (name) *name = nullptr;
    if (id) *id = kProperties[index].id;
    if (type) *type = kProperties[index].type;
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE GetNumberOfArchiveProperties(UINT32* count) override {
    if (!count) return E_POINTER;
    *count = 0;
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE GetArchivePropertyInfo(UINT32, BSTR*, PROPID*, VARTYPE*) override {
    return E_INVALIDARG;
  }

 private:
  struct PropertyInfo {
    PROPID id;
    VARTYPE type;
  };
  static constexpr PropertyInfo kProperties[] = {
      {kpidPath, VT_BSTR},    {kpidIsDir, VT_BOOL},      {kpidSize, VT_UI8},
      {kpidAttrib, VT_UI4},   {kpidMTime, VT_FILETIME},  {kpidEncrypted, VT_BOOL},
  };

  ~Handler() = default;

  // An encoded header needs a decoder this library does not have. When the
  // header is encrypted the password is asked first, as the real library
  // would, so that a refusal reaches the caller unchanged.
  static HRESULT RefuseEncodedHeader(const fmt::Archive& header, IUnknown* callback) {
    for (const auto& folder : header.folders) {
      if (!fmt::IsEncryptedFolder(folder)) continue;
      HRESULT hr = AskPassword(callback);
      if (FAILED(hr)) return hr;
      break;
    }
    return E_NOTIMPL;
  }

  HRESULT ExtractItem(UINT32 index, bool test, IArchiveExtractCallback* callback) {
    const fmt::Item& item = archive_.items[index];
    INT32 mode = test ? kAskTest : kAskExtract;
    ComPtr<ISequentialOutStream> out;
    HRESULT hr = callback->GetStream(index, out.Receive(), mode);
    if (FAILED(hr)) return hr;
    if (!out && !test) mode = kAskSkip;
    hr = callback->PrepareOperation(mode);
    if (FAILED(hr)) return hr;
    INT32 result = kOpOk;
    if (item.has_stream && mode != kAskSkip) {
      const fmt::Folder& folder = archive_.folders[item.folder];
      if (fmt::IsEncryptedFolder(folder)) {
        if (!asked_password_) {
          asked_password_ = true;
          hr = AskPassword(callback);
          if (FAILED(hr)) return hr;
        }
        result = kOpUnsupportedMethod;
      } else if (!fmt::IsCopyFolder(folder)) {
        result = kOpUnsupportedMethod;
      } else {
        hr = CopyItem(item, out.Get(), &result);
        if (FAILED(hr)) return hr;
      }
    }
    out.Reset();  // the callback may close its file only once we let go
    return callback->SetOperationResult(result);
  }

  // A Copy folder's unpacked bytes are its pack stream.
  HRESULT CopyItem(const fmt::Item& item, ISequentialOutStream* out, INT32* result) {
    const fmt::Folder& folder = archive_.folders[item.folder];
    uint64_t pack_size = archive_.pack_sizes[folder.first_pack_stream];
    if (folder.UnpackSize() != pack_size || item.offset_in_folder > pack_size ||
        item.size > pack_size - item.offset_in_folder) {
      *result = kOpDataError;
      return S_OK;
    }
    uint64_t offset = archive_.FolderPackOffset(item.folder) + item.offset_in_folder;
    std::vector<uint8_t> buffer(static_cast<size_t>(std::min<uint64_t>(item.size, kCopyChunk)));
    uint32_t crc = 0;
    for (uint64_t left = item.size; left > 0;) {
      UINT32 chunk = static_cast<UINT32>(std::min<uint64_t>(left, kCopyChunk));
      HRESULT hr = ReadFully(stream_.Get(), offset, buffer.data(), chunk);
      if (FAILED(hr)) return hr;
      if (hr != S_OK) {
        *result = kOpUnexpectedEnd;
        return S_OK;
      }
      crc = fmt::Crc32(buffer.data(), chunk, crc);
      if (out) {
        hr = WriteFully(out, buffer.data(), chunk);
        if (FAILED(hr)) return hr;
      }
      offset += chunk;
      left -= chunk;
    }
    *result = item.crc_defined && crc != item.crc ? kOpCrcError : kOpOk;
    return S_OK;
  }

  LONG refs_ = 1;
  ComPtr<IInStream> stream_;
  fmt::Archive archive_;
  bool asked_password_ = false;
};

}  // namespace

// The one export: objects of the 7z format handler class, as IInArchive.
extern "C" __declspec(dllexport) HRESULT WINAPI CreateObject(const GUID* clsid, const GUID* iid,
                                                             void** out) {
  if (!clsid || !iid || !out) return E_POINTER;
  *out = nullptr;
  if (*clsid != kClsid7zFormat) return CLASS_E_CLASSNOTAVAILABLE;
  if (*iid != kIidInArchive && *iid != IID_IUnknown) return E_NOINTERFACE;
  Handler* handler = new (std::nothrow) Handler();
  if (!handler) return E_OUTOFMEMORY;
  *out = static_cast<IInArchive*>(handler);
  return S_OK;
}
