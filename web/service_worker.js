// The page's service worker: it keeps the page's files, so that after one visit the page
// loads and plays with no network. Its cache is named after the files' contents, which the
// release writes into the two lines marked below; a new release therefore brings a new
// worker, which takes over at once (the page that found it still runs the old files), and
// deletes the older caches, so the next load is the new release's.
const CACHE = 'orlemaz-unreleased'; // the release's cache name
const FILES = ['./', 'index.html']; // the release's files

self.addEventListener('install', (event) => {
  // Past the browser's HTTP cache, which may still hold an older release's files.
  const requests = FILES.map((file) => new Request(file, {cache: 'reload'}));
  event.waitUntil(caches.open(CACHE)
    .then((cache) => cache.addAll(requests))
    .then(() => self.skipWaiting()));
});

self.addEventListener('activate', (event) => {
  event.waitUntil(caches.keys()
    .then((names) => Promise.all(names
      .filter((name) => name.startsWith('orlemaz-') && name !== CACHE)
      .map((name) => caches.delete(name))))
    .then(() => self.clients.claim()));
});

// The page's own files from the cache, anything else from the network.
self.addEventListener('fetch', (event) => {
  if (event.request.method !== 'GET') return;
  event.respondWith(caches.open(CACHE)
    .then((cache) => cache.match(event.request, {ignoreSearch: true}))
    .then((kept) => kept || fetch(event.request)));
});
