"use strict";
// The sign as it stands at the road: two halves side by side, five rows each,
// every row a grade box, its price and the two inscriptions.
const ADDRESSES = [[0, 1, 2, 3, 4], [8, 9, 10, 11, 12]];
function element(tag, className, text) {
  const node = document.createElement(tag);
  if (className) node.className = className;
  if (text !== undefined && text !== null) node.textContent = text;
  return node;
}
function drawSign(container, panels) {
  const byAddress = new Map(panels.map((panel) => [panel.address, panel]));
  container.replaceChildren();
  ADDRESSES.forEach((half, index) => {
    const column = element("div", "half");
    column.append(element("div", "half-title", t("half") + " " + (index + 1)));
    for (const address of half) {
      const panel = byAddress.get(address);
      const row = element("div", "panel" + (panel && panel.known === false ? " unknown" : ""));
      row.dataset.address = address;
      row.append(element("span", "grade", panel && panel.grade ? panel.grade : "—"));
      row.append(element("span", "price", panel && panel.price ? (panel.known === false ? t("unknown") : panel.price) : "—"));
      const bits = panel && Number.isInteger(panel.inscription) ? panel.inscription : 0;
      row.append(element("span", "inscription" + (bits & 1 ? " on" : ""), "1"));
      row.append(element("span", "inscription" + (bits & 2 ? " on" : ""), "2"));
      column.append(row);
    }
    container.append(column);
  });
}
