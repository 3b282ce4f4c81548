// A COM interface pointer released when the object dies.
#ifndef QVBACKUP_PLATFORM_WIN32_COM_PTR_H_
#define QVBACKUP_PLATFORM_WIN32_COM_PTR_H_

namespace qv::platform::win32 {

template <typename Interface>
class ComPtr {
 public:
  ComPtr() = default;
  explicit ComPtr(Interface* pointer) : pointer_(pointer) {}
  ~ComPtr() { Reset(); }
  ComPtr(const ComPtr&) = delete;
  ComPtr& operator=(const ComPtr&) = delete;

  Interface* Get() const { return pointer_; }
  Interface* operator->() const { return pointer_; }
  // Where a call that hands out an interface writes it; the one held
  // before is released first.
  Interface** Receiver() {
    Reset();
    return &pointer_;
  }
  void Reset() {
    if (pointer_ != nullptr) pointer_->Release();
    pointer_ = nullptr;
  }

 private:
  Interface* pointer_ = nullptr;
};

}  // namespace qv::platform::win32

#endif  // QVBACKUP_PLATFORM_WIN32_COM_PTR_H_
