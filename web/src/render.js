// A patch rendered offline: an OfflineAudioContext drives the same worklet
// the live page plays through, one render quantum per module block, as
// fast as it can, off the main thread.

// {outputs, inputs}: the rendered output channels and the input samples the
// worklet fed the engine, `frames` of each.
export async function renderOffline({ wasm, workletUrl, outputCount, expr, init, inputs, media, keys, rate, frames }) {
  const context = new OfflineAudioContext({ numberOfChannels: outputCount, length: frames, sampleRate: rate });
  await context.audioWorklet.addModule(workletUrl);
  const node = new AudioWorkletNode(context, 'quorvel', {
    numberOfInputs: 0,
    numberOfOutputs: 1,
    outputChannelCount: [outputCount],
    processorOptions: { wasm, expr, init, inputs, media, keys, capture: frames },
  });
  const captured = new Promise((resolve, reject) => {
    node.port.onmessage = (event) => {
      if (event.data?.type === 'captured') resolve(event.data.inputs);
    };
    node.onprocessorerror = () => reject(new Error('the engine stopped with an error'));
  });
  node.connect(context.destination);
  const [buffer, fed] = await Promise.all([context.startRendering(), captured]);
  const outputs = Array.from({ length: outputCount }, (_, k) => buffer.getChannelData(k));
  return { outputs, inputs: fed };
}
