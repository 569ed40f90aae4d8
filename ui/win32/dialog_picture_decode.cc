#include "ui/win32/dialog_picture_decode.h"

#include <wincodec.h>

#include <new>

#include "hid/win32/system_library.h"
#include "ui/win32/com_calls.h"

namespace gps {
namespace {

// COM on this thread for as long as the decoding lasts, in the single-
// threaded apartment the dialog's thread uses for the taskbar button. A
// thread already in the other apartment keeps it (the imaging component
// works in both) and is left as it was.
class ComScope {
 public:
  ComScope() {
    const auto init = SystemFunction<CoInitializeExFn>(Ole32(), "CoInitializeEx");
    if (!init) return;
    const HRESULT result = init(nullptr, COINIT_APARTMENTTHREADED);
    // S_FALSE (already initialised here) needs its CoUninitialize too.
    m_owned = SUCCEEDED(result);
    m_ready = m_owned || result == RPC_E_CHANGED_MODE;
  }
  ~ComScope() {
    if (!m_owned) return;
    if (const auto uninit = SystemFunction<CoUninitializeFn>(Ole32(), "CoUninitialize")) uninit();
  }
  ComScope(const ComScope&) = delete;
  ComScope& operator=(const ComScope&) = delete;
  bool Ready() const { return m_ready; }

 private:
  bool m_owned = false;
  bool m_ready = false;
};

// Releases the interface it holds when it goes out of scope, so that no
// early return leaks one.
template <typename T>
class ComRef {
 public:
  ComRef() = default;
  ~ComRef() {
    if (m_p) m_p->Release();
  }
  ComRef(const ComRef&) = delete;
  ComRef& operator=(const ComRef&) = delete;
  T* operator->() const { return m_p; }
  T* Get() const { return m_p; }
  T** Put() { return &m_p; }
  void** PutVoid() { return reinterpret_cast<void**>(&m_p); }

 private:
  T* m_p = nullptr;
};

RgbPicture Decode(const void* bytes, std::size_t size) {
  RgbPicture none;
  if (!bytes || size == 0 || size > MAXDWORD) return none;
  // The imaging component is found by COM through its registration in the
  // system folder, never beside the program.
  const auto create = SystemFunction<CoCreateInstanceFn>(Ole32(), "CoCreateInstance");
  if (!create) return none;
  // The first version of the factory: Windows 7 has no other.
  ComRef<IWICImagingFactory> factory;
  if (FAILED(create(CLSID_WICImagingFactory1, nullptr, CLSCTX_INPROC_SERVER,
                    IID_IWICImagingFactory, factory.PutVoid())))
    return none;
  ComRef<IWICStream> stream;
  if (FAILED(factory->CreateStream(stream.Put()))) return none;
  // The stream only reads the bytes, which may be the resource's read-only
  // pages; its signature merely lacks the const.
  if (FAILED(stream->InitializeFromMemory(static_cast<BYTE*>(const_cast<void*>(bytes)),
                                          static_cast<DWORD>(size))))
    return none;
  ComRef<IWICBitmapDecoder> decoder;
  if (FAILED(factory->CreateDecoderFromStream(stream.Get(), nullptr,
                                              WICDecodeMetadataCacheOnDemand, decoder.Put())))
    return none;
  ComRef<IWICBitmapFrameDecode> frame;
  if (FAILED(decoder->GetFrame(0, frame.Put()))) return none;
  UINT width = 0;
  UINT height = 0;
  if (FAILED(frame->GetSize(&width, &height)) || width == 0 || height == 0 ||
      uint64_t{width} * height > kMaxPicturePixels)
    return none;
  // Whatever the file's own pixel format (RGBA for the dialog's picture),
  // three bytes B, G, R per pixel, as the scaling and the DIB section take
  // them. The picture is opaque: its alpha is dropped.
  ComRef<IWICFormatConverter> converter;
  if (FAILED(factory->CreateFormatConverter(converter.Put())) ||
      FAILED(converter->Initialize(frame.Get(), GUID_WICPixelFormat24bppBGR,
                                   WICBitmapDitherTypeNone, nullptr, 0.0,
                                   WICBitmapPaletteTypeCustom)))
    return none;
  RgbPicture picture;
  picture.width = width;
  picture.height = height;
  picture.pixels.resize(std::size_t{width} * height * 3);
  if (FAILED(converter->CopyPixels(nullptr, width * 3, static_cast<UINT>(picture.pixels.size()),
                                   picture.pixels.data())))
    return none;
  return picture;
}

}  // namespace

RgbPicture DecodePicture(const void* bytes, std::size_t size) {
  ComScope com;
  if (!com.Ready()) return {};
  try {
    // Every interface is released before COM is, at the end of this call.
    return Decode(bytes, size);
  } catch (const std::bad_alloc&) {
    return {};
  }
}

RgbPicture ReadPictureResource(UINT id) {
  HMODULE module = GetModuleHandleW(nullptr);
  HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(10) /* RT_RCDATA */);
  if (!found) return {};
  const DWORD size = SizeofResource(module, found);
  HGLOBAL loaded = LoadResource(module, found);
  const void* bytes = loaded ? LockResource(loaded) : nullptr;
  return DecodePicture(bytes, size);
}

}  // namespace gps
