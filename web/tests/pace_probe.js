// Where a page's time goes while it sends output reports, for the VM's pace
// benchmark (vm_page.py --probe): run in the page before its own scripts, it
// takes the browser's clock at each sendReport and at its settling, at each
// animation frame the page asked for, at each pause of the core (the link's
// makeRoom and flush) and around each view the core hands the page. Leaves
// what it saw in window.paceProbe; it changes nothing the page does.
'use strict';

window.paceProbe = (() => {
  const now = () => performance.now();
  const probe = {sends: [], settled: [], frames: [], views: [], pauses: [], longFrames: []};

  if (window.HIDDevice) {
    const sendReport = HIDDevice.prototype.sendReport;
    HIDDevice.prototype.sendReport = function (...args) {
      const i = probe.sends.length;
      probe.sends.push(now());
      const sent = sendReport.apply(this, args);
      sent.then(() => { probe.settled[i] = now(); }, () => { probe.settled[i] = -now(); });
      return sent;
    };
  }

  const requestFrame = window.requestAnimationFrame.bind(window);
  window.requestAnimationFrame = callback => requestFrame(time => {
    const start = now();
    try {
      callback(time);
    } finally {
      probe.frames.push([start, now() - start]);
    }
  });

  // Frames that took the page's thread for more than 50 ms, with the part
  // spent on style, layout and paint (the browser's own report of them).
  try {
    new PerformanceObserver(list => {
      for (const e of list.getEntries()) {
        probe.longFrames.push([e.startTime, e.duration,
                               e.renderStart ? e.startTime + e.duration - e.renderStart : 0]);
      }
    }).observe({type: 'long-animation-frame', buffered: true});
  } catch (e) {
    // A browser without the entry type: no long frames counted.
  }

  // The core's factory, wrapped as the page's script defines it.
  let factory;
  Object.defineProperty(window, 'GpsCore', {
    configurable: true,
    get: () => factory,
    set: made => {
      factory = options => {
        const view = options.gpsPage.view;
        options.gpsPage.view = v => {
          const start = now();
          try {
            view(v);
          } finally {
            probe.views.push([start, now() - start]);
          }
        };
        return made(options).then(core => {
          const hid = core.gpsWebHid;
          for (const name of ['makeRoom', 'flush']) {
            const call = hid[name].bind(hid);
            hid[name] = async (...args) => {
              const start = now();
              try {
                return await call(...args);
              } finally {
                probe.pauses.push([start, now()]);
              }
            };
          }
          return core;
        });
      };
    },
  });
  return probe;
})();
