#pragma once
// The base of every scene object that shows a picture: a control with a
// picture surface (its own, or one a subclass lends it), opacity, zoom,
// rotation, mirror flips and a hit test through the picture's mask. The
// subclass decides which surface is shown; this class decides how it
// reaches the screen, and draws it before the children.
//
// The displayed size (PR_WIDTH, PR_HEIGHT) follows the surface and the zoom
// until a script sets it: the zoom then reads 0, meaning "explicit size",
// and every later recomputation keeps the size. Only the low byte of the
// angle counts for drawing, the screen rectangle and the hit test.

#include <memory>

#include "scene/zcontrol.h"
#include "surfaces/dibx.h"

namespace zirk {

class TZirkCustomImage : public TZirkControl {
 public:
  explicit TZirkCustomImage(TZirkBaseList& scene);
  ~TZirkCustomImage() override;

  const TPropTable& Properties() const override;

  // --- surfaces -------------------------------------------------------------
  // The lent surface when set, else the own one.
  TCustomDIBX* GetBackSurface() override;
  void SetBackSurface(TCustomDIBX* surface) override;
  TCustomDIBX* GetMaskSurface() override;
  void SetMaskSurface(TCustomDIBX* mask) override;
  bool GetSizeDirty() override { return sizeDirty_; }
  void SetSizeDirty(bool dirty) override { sizeDirty_ = dirty; }
  TCustomDIBX* OwnSurface() const { return own_.get(); }
  int32_t TransparentColor() const { return transparentColor_; }
  // The transparent colour of the frame lent now; the frame's surface keeps
  // its own key.
  void KeepTransparentColor(int32_t color) { transparentColor_ = color; }

  int32_t Alpha() const { return alpha_; }
  int32_t ZoomX() const { return zoomX_; }
  int32_t ZoomY() const { return zoomY_; }
  int32_t Angle() const { return angle_; }
  bool FlipH() const { return flipH_; }
  bool FlipV() const { return flipV_; }
  bool CaptureMask() const { return captureMask_; }

  // --- geometry and drawing -----------------------------------------------------
  // The rotated, zoomed picture's bounds when turned, else the control's.
  TRect GetScreenRect() override;
  // The picture's top-left corner: the rotation centre less the anchor
  // offset scaled by the zoom, so a zoomed picture keeps its anchor where
  // the rotated drawing puts it.
  TPoint GetDrawPos() override;
  int32_t PositionZoomX() override { return zoomX_; }
  int32_t PositionZoomY() override { return zoomY_; }
  // The screen point the picture's anchor lands on, and the anchor in the
  // picture as drawn (mirrored under the flips).
  void GetDrawOrigin(TPoint& position, TPoint& anchor);
  void UpdateDisplayWidth();
  void UpdateDisplayHeight();
  void Invalidate() override;
  void Draw() override;
  TZirkObject* HitTest(TPoint point, TMouseMask mask) override;
  bool Tick() override;

  // Reports the picture as opaque cover when DrawImage overwrites every
  // pixel of it on the screen's own surface: unturned, without mask, colour
  // key or alpha plane, at full opacity; only its draw rectangles when it
  // has any, and only inside the clips it is drawn through. A subclass that
  // draws otherwise reports its own cover.
  void CollectClipRects(TClipManager& clips) override;
  // Puts the shown surface on the drawing surface.
  virtual void DrawImage();
  // Whether the displayed size follows the picture (no motion drives it).
  virtual bool CanAutoSize();

  // --- life cycle -----------------------------------------------------------------
  void ReleaseSurfaces() override;
  void RestoreSurfaces() override;
  void SaveToStream(TKwStream& stream) override;
  void LoadFromStream(TKwStream& stream, int32_t version) override;

 protected:
  // The zoom the picture is drawn with: the stored one, or for an explicit
  // size the ratio of the displayed size to the surface size.
  int32_t effectiveZoomX();
  int32_t effectiveZoomY();
  // The own mask (a copy of the shown picture's), owned; nullptr when none.
  void setOwnMask(std::unique_ptr<TDIBX> mask) { ownMask_ = std::move(mask); }
  // Lends a surface and its mask without invalidating, for a caller that
  // invalidates what was shown and what is shown now itself.
  void lendSurfaces(TCustomDIBX* surface, TCustomDIBX* mask) {
    external_ = surface;
    externalMask_ = mask;
  }

 private:
  // Step of the display size along one axis.
  int32_t displaySize(bool vertical);
  void setZoom(int32_t& field, int32_t value);
  void markChildrenSizeDirty();
  // The alpha rule of one plain blit of the whole surface.
  void blit(TCustomDIBX& target, TCustomDIBX& s, TCustomDIBX* mask, int32_t left, int32_t top);
  // Where on the screen a draw rectangle r of s lands for a picture drawn
  // at (left, top).
  TRect drawPiece(const TCustomDIBX& s, const TRect& r, int32_t left, int32_t top) const;
  // Whether the mask admits a hit at (x, y), a point inside the picture as
  // displayed at (left, top).
  bool maskHit(int32_t x, int32_t y);

  int32_t transparentColor_ = -1;
  std::unique_ptr<TCustomDIBX> own_;
  TCustomDIBX* external_ = nullptr;
  std::unique_ptr<TDIBX> ownMask_;
  TCustomDIBX* externalMask_ = nullptr;
  int32_t alpha_ = 255;
  int32_t zoomX_ = 256, zoomY_ = 256;
  int32_t angle_ = 0;
  bool flipH_ = false, flipV_ = false;
  bool captureMask_ = false;
  bool sizeDirty_ = false;
};

}  // namespace zirk
