// A test helper preloaded into the program under test (LD_PRELOAD): it notes the SDL calls that
// open and close the display, and the program's own call of exit, one line each, in the file
// named by PYROVANE_SDL_CALL_LOG, and then makes them as asked. So a test can see that a process
// shut its display down before it ended, rather than leaving that to the destructors that exit runs.
#include <SDL.h>
#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

void Note(const char* call) {
  const char* path = std::getenv("PYROVANE_SDL_CALL_LOG");
  if (path == nullptr) return;
  if (std::FILE* log = std::fopen(path, "a")) {
    std::fprintf(log, "%s\n", call);
    std::fclose(log);
  }
}

// The function of this name in the libraries loaded after this one: SDL's own.
template <typename Function>
Function Next(const char* name) {
  return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

} // namespace

extern "C" {

SDL_Window* SDL_CreateWindow(const char* title, int x, int y, int width, int height, Uint32 flags) {
  static const auto next = Next<SDL_Window* (*)(const char*, int, int, int, int, Uint32)>("SDL_CreateWindow");
  SDL_Window* window = next(title, x, y, width, height, flags);
  if (window != nullptr) Note("SDL_CreateWindow");
  return window;
}

void SDL_DestroyWindow(SDL_Window* window) {
  static const auto next = Next<void (*)(SDL_Window*)>("SDL_DestroyWindow");
  if (window != nullptr) Note("SDL_DestroyWindow");
  next(window);
}

[[noreturn]] void exit(int status) noexcept {
  static const auto next = Next<void (*)(int)>("exit");
  const std::string call = "exit(" + std::to_string(status) + ")";
  Note(call.c_str());
  next(status);
  __builtin_unreachable();
}

void SDL_QuitSubSystem(Uint32 flags) {
  static const auto next = Next<void (*)(Uint32)>("SDL_QuitSubSystem");
  if ((flags & SDL_INIT_VIDEO) != 0) Note("SDL_QuitSubSystem(SDL_INIT_VIDEO)");
  next(flags);
}

} // extern "C"
