
// Written out whole, so that bundlers see the WebAssembly file and ship it with the page.
const coreUrl = new URL('./zambrel-core.wasm', import.meta.url).href;
export const ZambrelPlayer = definePlayer((options) =>
  createZambrelCore({ ...options, locateFile: () => coreUrl }));
export const ZambrelMediaError = ZambrelPlayer.MediaError;
export default ZambrelPlayer;
