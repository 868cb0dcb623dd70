// The phone in a browser: contacts, messages and settings over mzhost serve's
// JSON API. Text from the phone only ever goes in as text nodes.
const $ = (id) => document.getElementById(id);
let csrf = null;
let events = null;

// Builds an element; strings among the children become text nodes.
function el(tag, attrs = {}, ...children) {
  const node = document.createElement(tag);
  for (const [key, value] of Object.entries(attrs)) {
    if (key.startsWith('on')) node.addEventListener(key.slice(2), value);
    else if (value === true) node.setAttribute(key, '');
    else if (value !== false && value != null) node.setAttribute(key, value);
  }
  node.append(...children.flat().filter((c) => c != null));
  return node;
}

function say(text) {
  $('status').textContent = text;
}

class ApiError extends Error {}

async function api(method, path, body, type = 'application/json', more = {}) {
  const headers = { 'X-Requested-With': 'mz-page', ...more };
  if (method !== 'GET' && csrf) headers['X-CSRF-Token'] = csrf;
  if (body !== undefined) headers['Content-Type'] = type;
  if (body !== undefined && type === 'application/json') body = JSON.stringify(body);
  const response = await fetch(path, { method, headers, body, credentials: 'same-origin' });
  const json = (response.headers.get('Content-Type') || '').startsWith('application/json');
  const text = await response.text();
  const data = json && text ? JSON.parse(text) : null;
  if (response.status === 401 && path !== '/api/session') signedOut('Please sign in again.');
  if (!response.ok) {
    const export_ = data && data.export ? ` (${data.export} returned ${data.code})` : '';
    throw new ApiError((data && data.error ? data.error : `${response.status} ${response.statusText}`) + export_);
  }
  return data;
}

// Runs an action, showing its error, if any, in the status line.
function act(fn) {
  return async (event) => {
    if (event && event.type === 'submit') event.preventDefault();
    try {
      await fn(event);
    } catch (e) {
      say(e instanceof ApiError ? `Error: ${e.message}` : `Error: ${e}`);
    }
  };
}

function pager(box, page, load, what) {
  const { offset, limit, total } = page;
  box.replaceChildren(
    el('button', { type: 'button', 'aria-label': `Previous ${what}`, disabled: offset === 0,
      onclick: () => load(Math.max(0, offset - limit)) }, 'Previous'),
    el('span', {}, total ? `${offset + 1}–${Math.min(offset + limit, total)} of ${total}` : 'None'),
    el('button', { type: 'button', 'aria-label': `Next ${what}`, disabled: offset + limit >= total,
      onclick: () => load(offset + limit) }, 'Next'),
  );
}

// ---- Sign in and tabs ----

function signedIn(session) {
  csrf = session.csrf;
  $('sign-in').hidden = true;
  $('app').hidden = false;
  $('sign-out').hidden = false;
  say(`Signed in as ${session.user}.`);
  selectTab($('tab-contacts'));
  for (const load of [() => loadContacts(0), loadFolders, loadLimits]) act(load)();
  listen();
}

function signedOut(message) {
  csrf = null;
  if (events) events.close();
  events = null;
  $('app').hidden = true;
  $('sign-out').hidden = true;
  $('sign-in').hidden = false;
  say(message);
  $('password').focus();
}

$('sign-in').addEventListener('submit', act(async () => {
  const session = await api('POST', '/api/session', { user: $('user').value, password: $('password').value });
  $('password').value = '';
  signedIn(session);
}));
$('sign-out').addEventListener('click', act(async () => {
  await api('DELETE', '/api/session');
  signedOut('Signed out.');
}));

const tabs = [...document.querySelectorAll('[role=tab]')];
function selectTab(tab) {
  for (const t of tabs) {
    const on = t === tab;
    t.setAttribute('aria-selected', on);
    t.tabIndex = on ? 0 : -1;
    $(t.getAttribute('aria-controls')).hidden = !on;
  }
  if (tab.id === 'tab-messages') $('badge').hidden = true;
  if (tab.id === 'tab-settings' && !$('sound-dirs').hasChildNodes()) act(loadSounds)();
}
for (const tab of tabs) {
  tab.addEventListener('click', () => selectTab(tab));
  tab.addEventListener('keydown', (e) => {
    const at = tabs.indexOf(tab);
    const to = { ArrowRight: at + 1, ArrowLeft: at - 1, Home: 0, End: tabs.length - 1 }[e.key];
    if (to === undefined) return;
    e.preventDefault();
    const next = tabs[(to + tabs.length) % tabs.length];
    selectTab(next);
    next.focus();
  });
}

// ---- Contacts ----

// The contact's slots: [key, label] or [key, label, [[part, label]...]].
const ADDRESS = [['street', 'Street'], ['locality', 'City'], ['region', 'Region'], ['postal_code', 'Postal code'], ['country', 'Country']];
const FIELDS = [
  ['name', 'Name', [['prefix', 'Prefix'], ['given', 'Given name'], ['middle', 'Middle name'], ['family', 'Family name'], ['suffix', 'Suffix']]],
  ['mobile', 'Mobile'], ['home_tel', 'Home phone'], ['work_tel', 'Work phone'],
  ['home_fax', 'Home fax'], ['work_fax', 'Work fax'], ['email', 'E-mail'], ['url', 'Web page'],
  ['org', 'Organization', [['company', 'Company'], ['department', 'Department']]],
  ['title', 'Job title'], ['birthday', 'Birthday'],
  ['home_address', 'Home address', ADDRESS], ['work_address', 'Work address', ADDRESS],
  ['other_address', 'Other address', ADDRESS],
  ['categories', 'Categories'], ['note', 'Note'],
];
let contactPage = { offset: 0, limit: 50, total: 0 };
let contact = null;

async function loadContacts(offset) {
  const q = encodeURIComponent($('q').value.trim());
  const page = await api('GET', `/api/contacts?q=${q}&offset=${offset}&limit=${contactPage.limit}`);
  contactPage = page;
  $('contact-list').replaceChildren(...page.contacts.map((c) => el('li', {},
    el('button', { type: 'button', onclick: act(() => showContact(c.id)) },
      el('span', { class: 'name' }, c.name || '(no name)'),
      el('span', { class: 'hint' }, c.fields.mobile || c.fields.email || '')))));
  pager($('contact-pager'), page, act(loadContacts), 'contacts');
}

async function showContact(id, report) {
  contact = await api('GET', `/api/contacts/${encodeURIComponent(id)}`);
  $('contact-form').hidden = true;
  $('contact-view').hidden = false;
  $('report').hidden = !report;
  $('contact-name').textContent = contact.name || '(no name)';
  const rows = [];
  for (const [key, label, parts] of FIELDS) {
    const value = contact.fields[key];
    if (value == null) continue;
    const text = parts ? parts.map(([p]) => value[p]).filter(Boolean).join(key === 'name' ? ' ' : ', ') : value;
    rows.push(el('dt', {}, label), el('dd', {}, text));
  }
  $('contact-fields').replaceChildren(...rows);
  $('contact-vcard').href = `/api/contacts/${encodeURIComponent(id)}/vcard`;
  $('contact-vcard').download = `${id}.vcf`;
  $('contact-name').tabIndex = -1;
  $('contact-name').focus();
}

function inputFor(id, label, multiline) {
  return el('div', { class: 'field' }, el('label', { for: id }, label),
    el(multiline ? 'textarea' : 'input', { id }));
}

function editContact(c) {
  contact = c;
  const box = [];
  for (const [key, label, parts] of FIELDS) {
    if (parts) {
      box.push(el('fieldset', {}, el('legend', {}, label),
        parts.map(([part, partLabel]) => inputFor(`f-${key}-${part}`, partLabel))));
    } else {
      box.push(inputFor(`f-${key}`, label, key === 'note'));
    }
  }
  $('form-fields').replaceChildren(...box);
  for (const [key, , parts] of FIELDS) {
    const value = c ? c.fields[key] : null;
    if (parts) for (const [part] of parts) $(`f-${key}-${part}`).value = (value && value[part]) || '';
    else $(`f-${key}`).value = value || '';
  }
  $('form-title').textContent = c ? `Edit ${c.name}` : 'New contact';
  $('contact-view').hidden = true;
  $('report').hidden = true;
  $('contact-form').hidden = false;
  $('f-name-given').focus();
}

function formFields() {
  const fields = {};
  for (const [key, , parts] of FIELDS) {
    if (parts) {
      const value = {};
      for (const [part] of parts) {
        const v = $(`f-${key}-${part}`).value.trim();
        if (v) value[part] = v;
      }
      if (Object.keys(value).length) fields[key] = value;
    } else {
      const v = $(`f-${key}`).value.trim();
      if (v) fields[key] = v;
    }
  }
  return fields;
}

function showReport(summary, notes) {
  $('report').hidden = false;
  $('report-summary').textContent = summary;
  $('report-notes').replaceChildren(...notes.map((n) => el('li', {}, n)));
}

$('contact-form').addEventListener('submit', act(async () => {
  const body = { fields: formFields() };
  const saved = contact
    ? await api('PUT', `/api/contacts/${encodeURIComponent(contact.id)}`, body, undefined, { 'If-Match': contact.etag })
    : await api('POST', '/api/contacts', body);
  await showContact(saved.contact.id, true);
  const r = saved.report;
  showReport(saved.changed
    ? `Saved, with changes: ${r.kept} kept, ${r.retyped} re-typed, ${r.dropped} dropped.`
    : 'Saved as written.', saved.changed ? r.notes : []);
  say(`Saved ${saved.contact.name}.`);
  await loadContacts(contactPage.offset);
}));
$('add-contact').addEventListener('click', () => editContact(null));
$('edit-contact').addEventListener('click', () => editContact(contact));
$('cancel-edit').addEventListener('click', () => {
  $('contact-form').hidden = true;
  if (contact) $('contact-view').hidden = false;
});
$('delete-contact').addEventListener('click', act(async () => {
  if (!contact || !confirm(`Delete ${contact.name}?`)) return;
  await api('DELETE', `/api/contacts/${encodeURIComponent(contact.id)}`);
  say(`Deleted ${contact.name}.`);
  contact = null;
  $('contact-view').hidden = true;
  await loadContacts(contactPage.offset);
}));
$('search').addEventListener('submit', act(() => loadContacts(0)));

async function importFile(file) {
  const report = await api('POST', '/api/contacts/import', await file.text(), 'text/vcard');
  $('contact-view').hidden = true;
  $('contact-form').hidden = true;
  showReport(`${file.name}: ${report.imported} of ${report.total} cards imported, ${report.refused} refused; ` +
    `${report.kept} properties kept, ${report.retyped} re-typed, ${report.dropped} dropped.`,
  report.cards.map((c) => {
    const notes = [c.status, c.reason, c.dropped.length ? `dropped ${c.dropped.join(', ')}` : null,
      c.retyped.length ? `re-typed ${c.retyped.join(', ')}` : null].filter(Boolean);
    return `${c.index}. ${c.name || '(no name)'}: ${notes.join('; ')}`;
  }));
  say(`Imported ${report.imported} of ${report.total} cards.`);
  await loadContacts(0);
}
$('import-file').addEventListener('change', act(async (e) => {
  if (e.target.files[0]) await importFile(e.target.files[0]);
  e.target.value = '';
}));
const drop = $('drop');
drop.addEventListener('dragover', (e) => {
  e.preventDefault();
  drop.classList.add('over');
});
drop.addEventListener('dragleave', () => drop.classList.remove('over'));
drop.addEventListener('drop', act(async (e) => {
  e.preventDefault();
  drop.classList.remove('over');
  if (e.dataTransfer.files[0]) await importFile(e.dataTransfer.files[0]);
}));

// ---- Messages ----

const FOLDERS = { inbox: 'Inbox', outbox: 'Outbox', sent: 'Sent', drafts: 'Drafts', deleted: 'Deleted' };
let folder = 'inbox';
let messagePage = { offset: 0, limit: 50, total: 0, messages: [] };
let counts = {};
let message = null;
let limits = { number: 99, text: 209 };

function drawFolders() {
  $('folders').replaceChildren(...Object.entries(FOLDERS).map(([name, label]) =>
    el('button', { type: 'button', 'aria-pressed': name === folder, onclick: act(() => openFolder(name)) },
      `${label} (${counts[name] ?? 0})`)));
  $('clear-folder').textContent = `Delete every message in ${FOLDERS[folder]}`;
}

async function loadFolders() {
  const data = await api('GET', '/api/messages');
  counts = Object.fromEntries(data.folders.map((f) => [f.name, f.count]));
  drawFolders();
  await loadMessages(0);
}

async function openFolder(name) {
  folder = name;
  $('message-view').hidden = true;
  await loadFolders();
}

function messageItem(m) {
  return el('li', {}, el('button', { type: 'button', onclick: () => showMessage(m) },
    el('span', { class: 'name' }, m.address || '(no address)'),
    el('span', { class: 'hint' }, new Date(m.time).toLocaleString()),
    el('span', { class: 'text' }, m.text)));
}

async function loadMessages(offset) {
  messagePage = await api('GET', `/api/messages/${folder}?offset=${offset}&limit=${messagePage.limit}`);
  $('message-list').replaceChildren(...messagePage.messages.map(messageItem));
  pager($('message-pager'), messagePage, act(loadMessages), 'messages');
}

function showMessage(m) {
  message = m;
  $('message-view').hidden = false;
  $('message-from').textContent = `${m.folder === 'inbox' ? 'From' : 'To'} ${m.address}`;
  $('message-time').textContent = new Date(m.time).toLocaleString();
  $('message-text').textContent = m.text;
  $('message-from').tabIndex = -1;
  $('message-from').focus();
}

$('delete-message').addEventListener('click', act(async () => {
  if (!message || !confirm('Delete this message?')) return;
  await api('DELETE', `/api/messages/${message.folder}/${encodeURIComponent(message.id)}`);
  $('message-view').hidden = true;
  say('Message deleted.');
  message = null;
  await loadFolders();
}));
$('clear-folder').addEventListener('click', act(async () => {
  if (!confirm(`Delete every message in ${FOLDERS[folder]}?`)) return;
  const done = await api('DELETE', `/api/messages/${folder}`);
  say(`Deleted ${done.deleted} messages.`);
  $('message-view').hidden = true;
  await loadFolders();
}));

// A new message: in the Inbox list, its count up, and a badge until
// the Messages tab is looked at.
function listen() {
  events = new EventSource('/api/events');
  events.onopen = () => { $('live').textContent = 'Live updates: on'; };
  events.onerror = () => { $('live').textContent = 'Live updates: reconnecting'; };
  events.addEventListener('message', (e) => {
    const m = JSON.parse(e.data);
    counts.inbox = (counts.inbox ?? 0) + 1;
    drawFolders();
    // The folder lists oldest first: a new one goes last, when the end shows.
    if (folder === 'inbox' && messagePage.offset + messagePage.limit > messagePage.total) {
      $('message-list').append(messageItem(m));
      messagePage.total += 1;
      pager($('message-pager'), messagePage, act(loadMessages), 'messages');
    }
    if ($('tab-messages').getAttribute('aria-selected') !== 'true') {
      const badge = $('badge');
      badge.textContent = String(Number(badge.hidden ? 0 : badge.textContent) + 1);
      badge.hidden = false;
      badge.setAttribute('aria-label', `${badge.textContent} new`);
    }
    say(`New message from ${m.address}.`);
  });
  events.addEventListener('dropped', act((e) => {
    say(`${JSON.parse(e.data).dropped} new-message events were missed; reloading.`);
    return loadFolders();
  }));
}

// What the phone's code page holds: ASCII, Latin-1's upper half and these.
const CP1252_EXTRA = '€‚ƒ„…†‡ˆ‰Š‹ŒŽ‘’“”•–—˜™š›œžŸ';
const holds = (ch) => ch < '\x80' || (ch >= '\xa0' && ch <= '\xff') || CP1252_EXTRA.includes(ch);

function countText() {
  const chars = [...$('sms-text').value];
  $('sms-count').textContent = `${chars.length} of ${limits.text} characters`;
  $('sms-count').classList.toggle('warning', chars.length > limits.text);
  const bad = [...new Set(chars.filter((c) => !holds(c)))];
  $('sms-warning').hidden = bad.length === 0;
  $('sms-warning').textContent = `The phone cannot send these characters: ${bad.join(' ')}`;
}
async function loadLimits() {
  limits = await api('GET', '/api/sms/limits');
  $('sms-number').maxLength = limits.number;
  countText();
}
$('sms-text').addEventListener('input', countText);
$('compose').addEventListener('submit', act(async () => {
  await api('POST', '/api/sms', { number: $('sms-number').value.trim(), text: $('sms-text').value });
  say(`Sent to ${$('sms-number').value.trim()}.`);
  $('sms-text').value = '';
  countText();
}));

// ---- Settings ----

async function loadSounds() {
  const event = $('sound-event').value;
  const data = await api('GET', `/api/sounds?event=${encodeURIComponent(event)}&locations=all`);
  const label = $('sound-event').selectedOptions[0].textContent;
  $('sound-dirs').replaceChildren(...data.directories.map((d) => el('section', { class: 'dir' },
    el('h3', {}, d.path),
    d.files.length ? el('ul', { class: 'list' }, d.files.map((f) => el('li', {},
      el('button', { type: 'button', onclick: act(() => useSound(event, d.path, f)) }, `Use ${f} for ${label}`))))
      : el('p', { class: 'hint' }, 'No sounds here.'))));
  if (!data.directories.length) $('sound-dirs').append(el('p', { class: 'hint' }, 'No sound directories.'));
}
$('sounds-form').addEventListener('submit', act(loadSounds));
$('sound-event').addEventListener('change', act(loadSounds));

async function useSound(event, directory, file) {
  if (event === 'sms') {
    const done = await api('PUT', '/api/sms-sound', { directory, file });
    say(`The SMS sound is now ${done.sound}.`);
  } else {
    const done = await api('PUT', '/api/ringtone', { event, path: `${directory.replace(/\\$/, '')}\\${file}` });
    say(`The ${event} sound is now ${done.sound}.`);
  }
}

$('theme-form').addEventListener('submit', act(async () => {
  const done = await api('PUT', '/api/theme', { command: $('theme').value.trim() });
  say(`Theme set: ${done.theme}.`);
}));

// ---- Start ----

api('GET', '/api/session').then(signedIn, () => signedOut(''));
