// The client's side of the 7z.dll interface: file streams and the open and
// extract callbacks handed to IInArchive. Each object counts its references
// and deletes itself at zero; create them with new and hand them out through
// their interfaces (the creator's reference is the first).
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "base/scoped_handle.h"
#include "install/sevenzip_abi.h"

// Progress of one extraction, in bytes of unpacked data. Called on the
// extracting thread.
class I7zExtractListener {
 public:
  virtual ~I7zExtractListener() = default;
  virtual void OnTotal(uint64_t bytes) = 0;
  virtual void OnCompleted(uint64_t bytes) = 0;
};

// Reference counting shared by the objects below.
class CComRefCount {
 public:
  ULONG AddRefImpl() { return ::InterlockedIncrement(&refs_); }
  LONG ReleaseImpl() { return ::InterlockedDecrement(&refs_); }

 private:
  LONG refs_ = 1;
};

// IInStream and IStreamGetSize over a file opened for reading (others may
// read it too).
class CInFileStream final : public sevenzip::IInStream, public sevenzip::IStreamGetSize {
 public:
  CInFileStream() = default;
  // False when the file cannot be opened.
  bool Open(const std::wstring& path);

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
  ULONG STDMETHODCALLTYPE AddRef() override { return refs_.AddRefImpl(); }
  ULONG STDMETHODCALLTYPE Release() override;

  HRESULT STDMETHODCALLTYPE Read(void* data, UINT32 size, UINT32* processed) override;
  HRESULT STDMETHODCALLTYPE Seek(INT64 offset, UINT32 origin, UINT64* position) override;
  HRESULT STDMETHODCALLTYPE GetSize(UINT64* size) override;

 private:
  ~CInFileStream() = default;
  CComRefCount refs_;
  base::ScopedKernelHandle file_;
};

// IOutStream over a file the caller created; counts the bytes written.
class COutFileStream final : public sevenzip::IOutStream {
 public:
  explicit COutFileStream(HANDLE file) : file_(file) {}

  HANDLE handle() const { return file_.Get(); }
  uint64_t bytes_written() const { return bytes_written_; }
  // Closes the file now; the error of the close, if any.
  HRESULT Close();

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
  ULONG STDMETHODCALLTYPE AddRef() override { return refs_.AddRefImpl(); }
  ULONG STDMETHODCALLTYPE Release() override;

  HRESULT STDMETHODCALLTYPE Write(const void* data, UINT32 size, UINT32* processed) override;
  HRESULT STDMETHODCALLTYPE Seek(INT64 offset, UINT32 origin, UINT64* position) override;
  HRESULT STDMETHODCALLTYPE SetSize(UINT64 size) override;

 private:
  ~COutFileStream() = default;
  CComRefCount refs_;
  base::ScopedKernelHandle file_;
  uint64_t bytes_written_ = 0;
};

// No password is ever defined: a request for one is answered E_ABORT, so
// encrypted archives fail.
class CArchiveOpenCallback final : public sevenzip::IArchiveOpenCallback,
                                   public sevenzip::ICryptoGetTextPassword {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
  ULONG STDMETHODCALLTYPE AddRef() override { return refs_.AddRefImpl(); }
  ULONG STDMETHODCALLTYPE Release() override;

  HRESULT STDMETHODCALLTYPE SetTotal(const UINT64*, const UINT64*) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE SetCompleted(const UINT64*, const UINT64*) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE CryptoGetTextPassword(BSTR* password) override;

 private:
  ~CArchiveOpenCallback() = default;
  CComRefCount refs_;
};

// Writes each item below the output directory. An item path that would
// leave the directory ends the extraction (E_FAIL); an existing file that
// cannot be deleted (read-only is cleared first) or created ends it with
// E_ABORT. An item whose data the library reports as bad is counted and its
// file deleted, as is a file left unfinished when the extraction stops.
class CArchiveExtractCallback final : public sevenzip::IArchiveExtractCallback,
                                      public sevenzip::ICryptoGetTextPassword {
 public:
  CArchiveExtractCallback(sevenzip::IInArchive* archive, const std::wstring& output_dir,
                          I7zExtractListener* listener);

  uint64_t error_count() const { return error_count_; }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
  ULONG STDMETHODCALLTYPE AddRef() override { return refs_.AddRefImpl(); }
  ULONG STDMETHODCALLTYPE Release() override;

  HRESULT STDMETHODCALLTYPE SetTotal(UINT64 total) override;
  HRESULT STDMETHODCALLTYPE SetCompleted(const UINT64* complete) override;
  HRESULT STDMETHODCALLTYPE GetStream(UINT32 index, sevenzip::ISequentialOutStream** out_stream,
                                      INT32 ask_extract_mode) override;
  HRESULT STDMETHODCALLTYPE PrepareOperation(INT32 ask_extract_mode) override;
  HRESULT STDMETHODCALLTYPE SetOperationResult(INT32 op_result) override;
  HRESULT STDMETHODCALLTYPE CryptoGetTextPassword(BSTR* password) override;

 private:
  ~CArchiveExtractCallback();
  // Reads the current item's properties; E_FAIL for an unexpected type.
  HRESULT ReadItemProperties(UINT32 index);
  HRESULT CloseOutput();

  CComRefCount refs_;
  base::ComPtr<sevenzip::IInArchive> archive_;
  std::wstring output_dir_;
  std::wstring item_path_;  // relative to output_dir_
  std::wstring full_path_;
  uint32_t attrib_ = 0;
  bool attrib_defined_ = false;
  FILETIME mtime_ = {};
  bool mtime_defined_ = false;
  bool is_dir_ = false;
  bool extract_mode_ = false;
  COutFileStream* out_file_ = nullptr;  // owned through out_stream_
  base::ComPtr<sevenzip::ISequentialOutStream> out_stream_;
  bool password_defined_ = false;
  std::wstring password_;
  uint64_t error_count_ = 0;
  I7zExtractListener* listener_ = nullptr;
};
