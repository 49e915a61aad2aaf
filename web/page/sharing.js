// A file shared from the page: it goes up to the host that served the page,
// on the page's own origin, naming the upload ticket the host gave this
// connection and the file's SHA-256, which the host checks before it keeps
// the file. The browser hashes with Web Crypto, which it offers only to a
// secure page: sharing is offered over https alone.

const PICTURES = ['image/png', 'image/jpeg', 'image/gif', 'image/webp'];

// The kinds of picture the host shows in place; empty for anything else.
export function pictureType(type) {
  return PICTURES.includes(type) ? type : '';
}

// A size as the host and the window say it: "23 bytes", "2.9 MiB".
export function sizeText(bytes) {
  const units = ['bytes', 'KiB', 'MiB', 'GiB', 'TiB'];
  let value = bytes;
  let unit = 0;
  while (value >= 1024 && unit < 4) {
    value /= 1024;
    unit += 1;
  }
  return `${Number(value.toPrecision(value < 10 && unit > 0 ? 2 : 4))} ${units[unit]}`;
}

export function canShare() {
  return window.isSecureContext && !!(window.crypto && crypto.subtle);
}

async function sha256Hex(bytes) {
  const digest = new Uint8Array(await crypto.subtle.digest('SHA-256', bytes));
  return [...digest].map((b) => b.toString(16).padStart(2, '0')).join('');
}

// Where a kept file is fetched on this page's host.
export function fileUrl(id, name) {
  return `${location.origin}/files/${id}/${encodeURIComponent(name)}`;
}

// Uploads `file`: `progress(fraction)` hears how far it went. Resolves to
// {id, sha256}; rejects with the host's words, or 'cancelled'. `cancel()`
// stops it.
export function upload(file, ticket, progress) {
  const request = new XMLHttpRequest();
  let cancelled = false;
  const done = (async () => {
    const bytes = await file.arrayBuffer();
    const sha256 = await sha256Hex(bytes);
    if (cancelled) throw new Error('cancelled');
    return new Promise((resolve, reject) => {
      request.open('PUT', `/files/${encodeURIComponent(file.name || 'file')}?ticket=${ticket}&sha256=${sha256}`);
      request.upload.onprogress = (event) => progress(event.lengthComputable ? event.loaded / event.total : 0);
      request.onload = () => {
        if (request.status === 201) resolve({id: request.responseText.trim(), sha256});
        else reject(new Error(request.responseText.trim() || `${request.status} ${request.statusText}`));
      };
      request.onerror = () => reject(new Error('the connection to the host failed'));
      request.onabort = () => reject(new Error('cancelled'));
      request.send(bytes);
    });
  })();
  return {
    done,
    cancel() {
      cancelled = true;
      request.abort();
    },
  };
}

// A picture's small view to send with its details, as a Uint8Array: a PNG or
// a JPEG small enough is its own; any other picture is drawn small as a JPEG,
// as good as fits. Null for what the browser cannot draw.
export async function smallPicture(file, largest) {
  if ((file.type === 'image/png' || file.type === 'image/jpeg') && file.size <= largest) {
    return new Uint8Array(await file.arrayBuffer());
  }
  if (!pictureType(file.type) || typeof createImageBitmap !== 'function') return null;
  try {
    const bitmap = await createImageBitmap(file);
    const scale = Math.min(1, 240 / bitmap.width, 180 / bitmap.height);
    const canvas = document.createElement('canvas');
    canvas.width = Math.max(1, Math.round(bitmap.width * scale));
    canvas.height = Math.max(1, Math.round(bitmap.height * scale));
    canvas.getContext('2d').drawImage(bitmap, 0, 0, canvas.width, canvas.height);
    bitmap.close();
    for (const quality of [0.8, 0.6, 0.4, 0.25]) {
      const blob = await new Promise((resolve) => canvas.toBlob(resolve, 'image/jpeg', quality));
      if (blob && blob.size <= largest) return new Uint8Array(await blob.arrayBuffer());
    }
  } catch {
    // A picture the browser cannot read is shared by its name alone.
  }
  return null;
}

// A small view as received, believed only as a PNG or a JPEG: its address on
// this page, or null.
export function smallPictureUrl(bytes) {
  const png = bytes.length > 8 && bytes[0] === 0x89 && bytes[1] === 0x50 && bytes[2] === 0x4e && bytes[3] === 0x47;
  const jpeg = bytes.length > 3 && bytes[0] === 0xff && bytes[1] === 0xd8 && bytes[2] === 0xff;
  if (!png && !jpeg) return null;
  return URL.createObjectURL(new Blob([bytes], {type: png ? 'image/png' : 'image/jpeg'}));
}
