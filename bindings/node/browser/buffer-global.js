// The global Buffer that index.js uses, for the browser bundle.
export { Buffer } from './node-buffer.js';
