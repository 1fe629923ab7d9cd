"use strict";
// Russian or English, by the browser's language; data-t names a text.
const TEXTS = {
  en: {
    title: "TARVO head office", user: "User", password: "Password", login: "Log in",
    badLogin: "Wrong user name or password", logout: "Log out",
    lockedOut: "Too many failed logins: wait a while",
    stations: "Stations", push: "Push", events: "Events", search: "Search",
    allGroups: "All groups", station: "Station", online: "Online", lost: "lost", yes: "online",
    state: "State", rev: "Applied / office rev", verified: "Last verification", drift: "Drift",
    groups: "Groups", pending: "Pending", override: "Local override", history: "History",
    timeline: "Price timeline of panel", shownAt: "Shown at", unknown: "unknown", ask: "Ask",
    specs: "SPECs (one a line, e.g. row1=56.90:95)", target: "Stations (comma-separated)",
    group: "or group", at: "At (empty: now)", send: "Push", outcomes: "Confirmations",
    waiting: "waiting", confirmed: "confirmed", "not-confirmed": "not confirmed", offline: "offline",
    viewerRefused: "A viewer may not push prices", half: "Half", row: "Row", since: "since",
    none: "none", at_: "at", kind: "Event", text: "Text", from: "From", to: "To", issuer: "Issuer",
    editor: "Panel editor (rows 1..5, both halves)", price: "Price", grade: "Grade",
    inscription: "Inscription", exportCsv: "Export CSV", lagging: "lagging",
    scheduledPushes: "Scheduled pushes", specs_: "Panels", target_: "Stations", cancel: "Cancel",
  },
  ru: {
    title: "TARVO: головной офис", user: "Пользователь", password: "Пароль", login: "Войти",
    badLogin: "Неверное имя пользователя или пароль", logout: "Выйти",
    lockedOut: "Слишком много неудачных попыток входа: подождите",
    stations: "АЗС", push: "Цены", events: "События", search: "Поиск",
    allGroups: "Все группы", station: "АЗС", online: "На связи", lost: "нет связи", yes: "на связи",
    state: "Состояние", rev: "Ревизия: применена / офиса", verified: "Последняя проверка", drift: "Расхождения",
    groups: "Группы", pending: "Ожидают", override: "Местное изменение", history: "История",
    timeline: "Цены панели", shownAt: "Показано в", unknown: "неизвестно", ask: "Показать",
    specs: "SPEC (по одному в строке, например row1=56.90:95)", target: "АЗС (через запятую)",
    group: "или группа", at: "Когда (пусто: сейчас)", send: "Отправить", outcomes: "Подтверждения",
    waiting: "ждём", confirmed: "подтверждено", "not-confirmed": "не подтверждено", offline: "нет связи",
    viewerRefused: "Наблюдатель не может менять цены", half: "Половина", row: "Строка", since: "с",
    none: "нет", at_: "в", kind: "Событие", text: "Текст", from: "С", to: "По", issuer: "Кто",
    editor: "Панели (строки 1..5, обе половины)", price: "Цена", grade: "Марка",
    inscription: "Надпись", exportCsv: "Выгрузить CSV", lagging: "отстаёт",
    scheduledPushes: "Запланированные изменения", specs_: "Панели", target_: "АЗС", cancel: "Отменить",
  },
};
const LANGUAGE = (navigator.language || "en").toLowerCase().startsWith("ru") ? "ru" : "en";
function t(key) { return TEXTS[LANGUAGE][key] || TEXTS.en[key] || key; }
document.addEventListener("DOMContentLoaded", () => {
  document.documentElement.lang = LANGUAGE;
  for (const node of document.querySelectorAll("[data-t]")) node.textContent = t(node.dataset.t);
  for (const node of document.querySelectorAll("[data-tp]")) node.placeholder = t(node.dataset.tp);
});
