// Memory shared with the compositor, in which the show's buffers lie.
#include "wayland.h"

#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>

namespace desktop {

SharedMemory::SharedMemory(wl_shm* shm, std::size_t bytes) : bytes_(bytes) {
  const int file = memfd_create("pyrovane", MFD_CLOEXEC);
  if (file < 0) return;
  if (ftruncate(file, static_cast<off_t>(bytes)) == 0) {
    void* mapping = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED, file, 0);
    if (mapping != MAP_FAILED) {
      address_ = mapping;
      // The request takes a copy of the descriptor, so this one can go at once.
      pool_ = wl_shm_create_pool(shm, file, static_cast<std::int32_t>(bytes));
    }
  }
  close(file);
}

SharedMemory::~SharedMemory() {
  if (pool_ != nullptr) wl_shm_pool_destroy(pool_);
  if (address_ != nullptr) munmap(address_, bytes_);
}

wl_buffer* SharedMemory::MakeBuffer(std::size_t offset, int width, int height) {
  return wl_shm_pool_create_buffer(pool_, static_cast<std::int32_t>(offset), width, height,
                                   width * static_cast<int>(sizeof(std::uint32_t)), WL_SHM_FORMAT_XRGB8888);
}

std::uint32_t* SharedMemory::Pixels(std::size_t offset) const {
  return reinterpret_cast<std::uint32_t*>(static_cast<char*>(address_) + offset);
}

} // namespace desktop
