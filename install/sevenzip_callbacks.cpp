#include "install/sevenzip_callbacks.h"

#include <oleauto.h>

#include "base/logging.h"
#include "install/archive_path.h"
#include "utils/utils.h"

namespace {

using namespace sevenzip;

// Seek origins of the interface match the Win32 move methods (0, 1, 2).
HRESULT SeekFile(HANDLE file, INT64 offset, UINT32 origin, UINT64* position) {
  if (origin > FILE_END) return STG_E_INVALIDFUNCTION;
  LARGE_INTEGER distance, result;
  distance.QuadPart = offset;
  if (!::SetFilePointerEx(file, distance, &result, origin)) {
    return HRESULT_FROM_WIN32(::GetLastError());
  }
  if (position) *position = static_cast<UINT64>(result.QuadPart);
  return S_OK;
}

template <class T>
HRESULT Answer(T* object, void** out) {
  *out = object;
  object->AddRef();
  return S_OK;
}

// Attribute values from 7-Zip may carry a Unix mode in the high word; only
// the Windows bits that a file can take are applied.
DWORD WindowsAttributes(uint32_t attrib) {
  if (attrib & kAttributeUnixExtension) attrib &= 0x7FFF;
  attrib &= ~static_cast<uint32_t>(FILE_ATTRIBUTE_DIRECTORY | kAttributeUnixExtension);
  return attrib ? attrib : FILE_ATTRIBUTE_NORMAL;
}

}  // namespace

// ---- CInFileStream ----

bool CInFileStream::Open(const std::wstring& path) {
  file_.Reset(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr));
  return file_.IsValid();
}

HRESULT CInFileStream::QueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  if (iid == IID_IUnknown || iid == kIidSequentialInStream || iid == kIidInStream) {
    return Answer(static_cast<IInStream*>(this), out);
  }
  if (iid == kIidStreamGetSize) return Answer(static_cast<IStreamGetSize*>(this), out);
  *out = nullptr;
  return E_NOINTERFACE;
}

ULONG CInFileStream::Release() {
  LONG left = refs_.ReleaseImpl();
  if (left == 0) delete this;
  return static_cast<ULONG>(left);
}

HRESULT CInFileStream::Read(void* data, UINT32 size, UINT32* processed) {
  DWORD got = 0;
  BOOL ok = ::ReadFile(file_.Get(), data, size, &got, nullptr);
  if (processed) *processed = got;
  return ok ? S_OK : HRESULT_FROM_WIN32(::GetLastError());
}

HRESULT CInFileStream::Seek(INT64 offset, UINT32 origin, UINT64* position) {
  return SeekFile(file_.Get(), offset, origin, position);
}

HRESULT CInFileStream::GetSize(UINT64* size) {
  LARGE_INTEGER value;
  if (!::GetFileSizeEx(file_.Get(), &value)) return HRESULT_FROM_WIN32(::GetLastError());
  *size = static_cast<UINT64>(value.QuadPart);
  return S_OK;
}

// ---- COutFileStream ----

HRESULT COutFileStream::Close() {
  HANDLE file = file_.Take();
  if (file && !::CloseHandle(file)) return HRESULT_FROM_WIN32(::GetLastError());
  return S_OK;
}

HRESULT COutFileStream::QueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  if (iid == IID_IUnknown || iid == kIidSequentialOutStream || iid == kIidOutStream) {
    return Answer(static_cast<IOutStream*>(this), out);
  }
  *out = nullptr;
  return E_NOINTERFACE;
}

ULONG COutFileStream::Release() {
  LONG left = refs_.ReleaseImpl();
  if (left == 0) delete this;
  return static_cast<ULONG>(left);
}

HRESULT COutFileStream::Write(const void* data, UINT32 size, UINT32* processed) {
  DWORD written = 0;
  BOOL ok = ::WriteFile(file_.Get(), data, size, &written, nullptr);
  bytes_written_ += written;
  if (processed) *processed = written;
  return ok ? S_OK : HRESULT_FROM_WIN32(::GetLastError());
}

HRESULT COutFileStream::Seek(INT64 offset, UINT32 origin, UINT64* position) {
  return SeekFile(file_.Get(), offset, origin, position);
}

HRESULT COutFileStream::SetSize(UINT64 size) {
  UINT64 current = 0;
  HRESULT hr = SeekFile(file_.Get(), 0, FILE_CURRENT, &current);
  if (FAILED(hr)) return hr;
  hr = SeekFile(file_.Get(), static_cast<INT64>(size), FILE_BEGIN, nullptr);
  if (FAILED(hr)) return hr;
  if (!::SetEndOfFile(file_.Get())) return HRESULT_FROM_WIN32(::GetLastError());
  return SeekFile(file_.Get(), static_cast<INT64>(current), FILE_BEGIN, nullptr);
}

// ---- CArchiveOpenCallback ----

HRESULT CArchiveOpenCallback::QueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  if (iid == IID_IUnknown || iid == kIidArchiveOpenCallback) {
    return Answer(static_cast<IArchiveOpenCallback*>(this), out);
  }
  if (iid == kIidCryptoGetTextPassword) {
    return Answer(static_cast<ICryptoGetTextPassword*>(this), out);
  }
  *out = nullptr;
  return E_NOINTERFACE;
}

ULONG CArchiveOpenCallback::Release() {
  LONG left = refs_.ReleaseImpl();
  if (left == 0) delete this;
  return static_cast<ULONG>(left);
}

HRESULT CArchiveOpenCallback::CryptoGetTextPassword(BSTR*) {
  LOG(Error) << "CArchiveOpenCallback::CryptoGetTextPassword, encrypted archive refused";
  return E_ABORT;
}

// ---- CArchiveExtractCallback ----

CArchiveExtractCallback::CArchiveExtractCallback(IInArchive* archive,
                                                 const std::wstring& output_dir,
                                                 I7zExtractListener* listener)
    : output_dir_(output_dir), listener_(listener) {
  archive->AddRef();
  *archive_.Receive() = archive;
}

// A file still open here never got its result: the extraction stopped in
// the middle of it, so it is incomplete.
CArchiveExtractCallback::~CArchiveExtractCallback() {
  if (out_file_) {
    CloseOutput();
    ::DeleteFileW(full_path_.c_str());
  }
}

HRESULT CArchiveExtractCallback::QueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  if (iid == IID_IUnknown || iid == kIidArchiveExtractCallback || iid == kIidProgress) {
    return Answer(static_cast<IArchiveExtractCallback*>(this), out);
  }
  if (iid == kIidCryptoGetTextPassword) {
    return Answer(static_cast<ICryptoGetTextPassword*>(this), out);
  }
  *out = nullptr;
  return E_NOINTERFACE;
}

ULONG CArchiveExtractCallback::Release() {
  LONG left = refs_.ReleaseImpl();
  if (left == 0) delete this;
  return static_cast<ULONG>(left);
}

HRESULT CArchiveExtractCallback::SetTotal(UINT64 total) {
  if (listener_) listener_->OnTotal(total);
  return S_OK;
}

HRESULT CArchiveExtractCallback::SetCompleted(const UINT64* complete) {
  if (listener_ && complete) listener_->OnCompleted(*complete);
  return S_OK;
}

HRESULT CArchiveExtractCallback::ReadItemProperties(UINT32 index) {
  PROPVARIANT prop;
  ::PropVariantInit(&prop);
  HRESULT hr = archive_->GetProperty(index, kpidAttrib, &prop);
  if (FAILED(hr)) return hr;
  if (prop.vt == VT_UI4) {
    attrib_ = prop.ulVal;
    attrib_defined_ = true;
  } else if (prop.vt != VT_EMPTY) {
    ::PropVariantClear(&prop);
    return E_FAIL;
  }

  hr = archive_->GetProperty(index, kpidIsDir, &prop);
  if (FAILED(hr)) return hr;
  if (prop.vt == VT_BOOL) {
    is_dir_ = prop.boolVal != VARIANT_FALSE;
  } else if (prop.vt != VT_EMPTY) {
    ::PropVariantClear(&prop);
    return E_FAIL;
  }

  hr = archive_->GetProperty(index, kpidMTime, &prop);
  if (FAILED(hr)) return hr;
  if (prop.vt == VT_FILETIME) {
    mtime_ = prop.filetime;
    mtime_defined_ = true;
  } else if (prop.vt != VT_EMPTY) {
    ::PropVariantClear(&prop);
    return E_FAIL;
  }
  return S_OK;
}

HRESULT CArchiveExtractCallback::GetStream(UINT32 index, ISequentialOutStream** out_stream,
                                           INT32 ask_extract_mode) {
  if (!out_stream) return E_POINTER;
  *out_stream = nullptr;
  CloseOutput();
  item_path_.clear();
  full_path_.clear();
  attrib_defined_ = mtime_defined_ = is_dir_ = false;

  PROPVARIANT prop;
  ::PropVariantInit(&prop);
  HRESULT hr = archive_->GetProperty(index, kpidPath, &prop);
  if (FAILED(hr)) return hr;
  std::wstring name;
  if (prop.vt == VT_EMPTY) {
    name = L"[Content]";
  } else if (prop.vt == VT_BSTR) {
    if (prop.bstrVal) name.assign(prop.bstrVal, ::SysStringLen(prop.bstrVal));
    ::PropVariantClear(&prop);
  } else {
    ::PropVariantClear(&prop);
    return E_FAIL;
  }
  if (ask_extract_mode != kAskExtract) return S_OK;

  hr = ReadItemProperties(index);
  if (FAILED(hr)) return hr;
  if (!archive_path::MakeRelativePath(name, &item_path_)) {
    LOG(Error) << "CArchiveExtractCallback::GetStream, item leaves the destination: " << name;
    return E_FAIL;
  }
  full_path_ = output_dir_ + L"\\" + item_path_;
  while (full_path_.back() == L'\\') full_path_.pop_back();

  if (is_dir_) {
    if (!utils::CreateDirectoryTree(full_path_)) {
      LOG(Error) << "CArchiveExtractCallback::GetStream, create folder failed: " << full_path_;
    }
    return S_OK;
  }
  size_t slash = full_path_.find_last_of(L'\\');
  if (slash != std::wstring::npos) utils::CreateDirectoryTree(full_path_.substr(0, slash));

  if (::GetFileAttributesW(full_path_.c_str()) != INVALID_FILE_ATTRIBUTES) {
    ::SetFileAttributesW(full_path_.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (!::DeleteFileW(full_path_.c_str())) {
      LOG(Error) << "CArchiveExtractCallback::GetStream, delete failed: " << full_path_
                 << " error=" << ::GetLastError();
      return E_ABORT;
    }
  }
  HANDLE file = ::CreateFileW(full_path_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    LOG(Error) << "CArchiveExtractCallback::GetStream, create failed: " << full_path_
               << " error=" << ::GetLastError();
    return E_ABORT;
  }
  out_file_ = new COutFileStream(file);
  *out_stream_.Receive() = out_file_;  // takes the creator's reference
  out_file_->AddRef();
  *out_stream = out_file_;
  return S_OK;
}

HRESULT CArchiveExtractCallback::PrepareOperation(INT32 ask_extract_mode) {
  extract_mode_ = ask_extract_mode == kAskExtract;
  return S_OK;
}

HRESULT CArchiveExtractCallback::CloseOutput() {
  if (!out_file_) return S_OK;
  HRESULT hr = out_file_->Close();
  out_file_ = nullptr;
  out_stream_.Reset();
  return hr;
}

HRESULT CArchiveExtractCallback::SetOperationResult(INT32 op_result) {
  bool failed = op_result != kOpOk;
  if (failed) {
    ++error_count_;
    LOG(Error) << "CArchiveExtractCallback::SetOperationResult, result " << op_result << ": "
               << item_path_;
  }
  HRESULT hr = S_OK;
  if (out_file_) {
    if (mtime_defined_) ::SetFileTime(out_file_->handle(), nullptr, nullptr, &mtime_);
    hr = CloseOutput();
  }
  if (extract_mode_ && !full_path_.empty()) {
    if (failed && !is_dir_) {
      ::DeleteFileW(full_path_.c_str());  // no damaged file is left behind
    } else if (attrib_defined_) {
      ::SetFileAttributesW(full_path_.c_str(), WindowsAttributes(attrib_));
    }
  }
  return hr;
}

HRESULT CArchiveExtractCallback::CryptoGetTextPassword(BSTR* password) {
  if (!password_defined_) {
    LOG(Error) << "CArchiveExtractCallback::CryptoGetTextPassword, encrypted archive refused";
    return E_ABORT;
  }
  *password = ::SysAllocString(password_.c_str());
  return *password ? S_OK : E_OUTOFMEMORY;
}
