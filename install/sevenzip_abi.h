// The binary interface of 7-Zip's archive library "7z.dll" as far as the
// client uses it, declared from 7-Zip's published interface descriptions:
// COM-style interfaces (IUnknown first, __stdcall methods in the published
// order), PROPVARIANT item properties and the one export "CreateObject".
// The 7z.dll stand-in in outside/sevenzip/ implements the same declarations,
// so either library can sit in the "Utils" folder.
#pragma once

#include <windows.h>
#include <unknwn.h>
#include <propidl.h>

#include <cstdint>

namespace sevenzip {

// Interface ids follow one pattern: {23170F69-40C1-278A-0000-00gg00ii0000}
// with the interface group gg and the id ii inside the group.
constexpr GUID MakeIid(uint8_t group, uint8_t id) {
  return GUID{0x23170F69, 0x40C1, 0x278A, {0x00, 0x00, 0x00, group, 0x00, id, 0x00, 0x00}};
}

constexpr GUID kIidProgress = MakeIid(0x00, 0x05);
constexpr GUID kIidSequentialInStream = MakeIid(0x03, 0x01);
constexpr GUID kIidSequentialOutStream = MakeIid(0x03, 0x02);
constexpr GUID kIidInStream = MakeIid(0x03, 0x03);
constexpr GUID kIidOutStream = MakeIid(0x03, 0x04);
constexpr GUID kIidStreamGetSize = MakeIid(0x03, 0x06);
constexpr GUID kIidCryptoGetTextPassword = MakeIid(0x05, 0x10);
constexpr GUID kIidArchiveOpenCallback = MakeIid(0x06, 0x10);
constexpr GUID kIidArchiveExtractCallback = MakeIid(0x06, 0x20);
constexpr GUID kIidInArchive = MakeIid(0x06, 0x60);

// Format handler class ids: {23170F69-40C1-278A-1000-000110xx0000}, 07 = 7z.
constexpr GUID kClsid7zFormat = {
    0x23170F69, 0x40C1, 0x278A, {0x10, 0x00, 0x00, 0x01, 0x10, 0x07, 0x00, 0x00}};

// Item property ids (PROPID) the client asks for.
enum : PROPID {
  kpidPath = 3,
  kpidIsDir = 6,
  kpidSize = 7,
  kpidAttrib = 9,
  kpidMTime = 12,
  kpidEncrypted = 15,
};

// askExtractMode of GetStream / PrepareOperation.
enum : int32_t { kAskExtract = 0, kAskTest = 1, kAskSkip = 2 };

// opRes of SetOperationResult.
enum : int32_t {
  kOpOk = 0,
  kOpUnsupportedMethod = 1,
  kOpDataError = 2,
  kOpCrcError = 3,
  kOpUnavailable = 4,
  kOpUnexpectedEnd = 5,
  kOpDataAfterEnd = 6,
  kOpIsNotArc = 7,
  kOpHeadersError = 8,
  kOpWrongPassword = 9,
};

// Extract's item count meaning "every item" (the index list is then null).
constexpr uint32_t kAllItems = 0xFFFFFFFFu;

// The high word of an attribute value holds a Unix mode when this bit is set.
constexpr uint32_t kAttributeUnixExtension = 0x8000;

struct IProgress : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE SetTotal(UINT64 total) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetCompleted(const UINT64* complete_value) = 0;
};

struct ISequentialInStream : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE Read(void* data, UINT32 size, UINT32* processed_size) = 0;
};

struct ISequentialOutStream : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE Write(const void* data, UINT32 size,
                                          UINT32* processed_size) = 0;
};

// seek_origin: 0 from the start, 1 from the current position, 2 from the end.
struct IInStream : public ISequentialInStream {
  virtual HRESULT STDMETHODCALLTYPE Seek(INT64 offset, UINT32 seek_origin,
                                         UINT64* new_position) = 0;
};

struct IOutStream : public ISequentialOutStream {
  virtual HRESULT STDMETHODCALLTYPE Seek(INT64 offset, UINT32 seek_origin,
                                         UINT64* new_position) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetSize(UINT64 new_size) = 0;
};

struct IStreamGetSize : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetSize(UINT64* size) = 0;
};

struct ICryptoGetTextPassword : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE CryptoGetTextPassword(BSTR* password) = 0;
};

struct IArchiveOpenCallback : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE SetTotal(const UINT64* files, const UINT64* bytes) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetCompleted(const UINT64* files, const UINT64* bytes) = 0;
};

struct IArchiveExtractCallback : public IProgress {
  virtual HRESULT STDMETHODCALLTYPE GetStream(UINT32 index, ISequentialOutStream** out_stream,
                                              INT32 ask_extract_mode) = 0;
  virtual HRESULT STDMETHODCALLTYPE PrepareOperation(INT32 ask_extract_mode) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetOperationResult(INT32 op_result) = 0;
};

struct IInArchive : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE Open(IInStream* stream, const UINT64* max_check_start_position,
                                         IArchiveOpenCallback* open_callback) = 0;
  virtual HRESULT STDMETHODCALLTYPE Close() = 0;
  virtual HRESULT STDMETHODCALLTYPE GetNumberOfItems(UINT32* num_items) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetProperty(UINT32 index, PROPID prop_id,
                                                PROPVARIANT* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE Extract(const UINT32* indices, UINT32 num_items,
                                            INT32 test_mode,
                                            IArchiveExtractCallback* extract_callback) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetArchiveProperty(PROPID prop_id, PROPVARIANT* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetNumberOfProperties(UINT32* num_props) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetPropertyInfo(UINT32 index, BSTR* name, PROPID* prop_id,
                                                    VARTYPE* var_type) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetNumberOfArchiveProperties(UINT32* num_props) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetArchivePropertyInfo(UINT32 index, BSTR* name,
                                                           PROPID* prop_id,
                                                           VARTYPE* var_type) = 0;
};

// The library's one entry point: a new object of class |clsid| asked for
// interface |iid|, with one reference for the caller.
using CreateObjectFunc = HRESULT(WINAPI*)(const GUID* clsid, const GUID* iid, void** out_object);

}  // namespace sevenzip
