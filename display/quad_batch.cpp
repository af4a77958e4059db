#include "display/quad_batch.h"

#include "engine/renderer.h"

namespace tarnevox {

Status lockBatch(Renderer* renderer) {
  void* storage = nullptr;
  const HRESULT result =
      renderer->vertexBuffer->Lock(0, kVertexBufferBytes, &storage, D3DLOCK_DISCARD);
  renderer->lockedVertices = FAILED(result) ? nullptr : static_cast<QuadVertex*>(storage);
  return FAILED(result) ? E_FAIL : S_OK;
}

Status flushBatch(Renderer* renderer) {
  if (renderer->vertexCount == 0) return kStatusNothingDone;
  IDirect3DDevice9* device = renderer->device;

  // Only the new lock decides the result; a failed draw still counts as drawn.
  renderer->vertexBuffer->Unlock();
  renderer->lockedVertices = nullptr;
  device->SetFVF(kQuadVertexFormat);
  device->SetTexture(0, renderer->texture);
  device->SetStreamSource(0, renderer->vertexBuffer, 0, sizeof(QuadVertex));
  device->DrawPrimitive(D3DPT_TRIANGLELIST, 0, renderer->vertexCount / 3);
  renderer->vertexCount = 0;
  renderer->texture = nullptr;
  return lockBatch(renderer);
}

}  // namespace tarnevox
