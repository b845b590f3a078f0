// The choice of a presenter: one ordered table over what the session tells of its display.
#include "session.h"
#include "wayland.h"
#include "x11.h"

namespace desktop {

namespace {

struct PresenterChoice {
  WindowSystem system;
  PresentPath path;
  // Whether the automatic choice takes this entry for a display like this.
  bool (*suits)(const DisplayTraits& traits);
  std::unique_ptr<Presenter> (*make)(Session& session);
};

bool WithDirectRendering(const DisplayTraits& traits) { return traits.directRendering; }
bool InFramePixelLayout(const DisplayTraits& traits) { return traits.framePixelLayout; }
bool AnyDisplay(const DisplayTraits& /*traits*/) { return true; }

std::unique_ptr<Presenter> MakeRenderer(Session& session) { return MakeSdlRenderer(*session.X11()); }
std::unique_ptr<Presenter> MakeImages(Session& session) { return MakeX11Images(*session.X11()); }
std::unique_ptr<Presenter> MakeBuffers(Session& session) { return MakeWaylandBuffers(*session.Wayland()); }

// In order of preference. With a GPU the renderer scales almost for free; without one, X images
// and our scaler, which redraws only what changed, cost a small fraction of what the renderer does
// on a software rasterizer (see bench/show_cpu.sh). A window whose pixels are in another layout
// than the frame's takes the renderer, which converts. On Wayland the compositor scales the
// frame's buffers.
constexpr PresenterChoice Choices[] = {
    {WindowSystem::X11, PresentPath::Renderer, WithDirectRendering, MakeRenderer},
    {WindowSystem::X11, PresentPath::Images, InFramePixelLayout, MakeImages},
    {WindowSystem::X11, PresentPath::Renderer, AnyDisplay, MakeRenderer},
    {WindowSystem::Wayland, PresentPath::Images, AnyDisplay, MakeBuffers},
};

} // namespace

std::unique_ptr<Presenter> ChoosePresenter(Session& session, PresentPath path) {
  const DisplayTraits traits = session.Traits();
  for (const PresenterChoice& choice : Choices) {
    const bool wanted = path == PresentPath::Automatic ? choice.suits(traits) : choice.path == path;
    if (choice.system != traits.system || !wanted) {
      continue;
    }
    if (std::unique_ptr<Presenter> presenter = choice.make(session)) {
      return presenter;
    }
  }
  return nullptr;
}

} // namespace desktop
